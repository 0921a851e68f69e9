#pragma once
#include "platform/Pointer.h"

#include <memory>

namespace quorvane::backends::x11 {

// The pointer on the X display, read on a connection of its own. Throws
// platform::ScreenCaptureError when the display cannot be opened.
std::unique_ptr<platform::PointerSource> makePointer();

} // namespace quorvane::backends::x11
