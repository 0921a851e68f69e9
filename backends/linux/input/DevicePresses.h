#pragma once
// Presses of the primary button from the kernel's pointer devices, added to
// a pointer source that knows the position but no buttons.
#include "platform/Pointer.h"

#include <memory>

namespace quorvane::backends::input {

// `pointer` with primaryPresses() counted from the readable pointer devices
// under /dev/input. Without such devices it answers as `pointer` does.
std::unique_ptr<platform::PointerSource>
withDevicePresses(std::unique_ptr<platform::PointerSource> pointer);

} // namespace quorvane::backends::input
