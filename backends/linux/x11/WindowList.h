#pragma once
#include "platform/ScreenCapture.h"
#include "x11/XcbConnection.h"

#include <vector>

namespace quorvane::backends::x11 {

// The on-screen client windows of the display, front-most first, desktop
// windows left out. With an EWMH window manager the order is its stacking
// list; without one, the stacking of the root's children. Windows that
// vanish while being read are skipped.
std::vector<platform::Window> listWindows(const XcbConnection& connection);

} // namespace quorvane::backends::x11
