#pragma once
// Which button is the primary one: the desktop's left-handed setting.
#include "input/PressReader.h"

#include <optional>

namespace quorvane::backends::input {

Handedness readHandedness();

} // namespace quorvane::backends::input
