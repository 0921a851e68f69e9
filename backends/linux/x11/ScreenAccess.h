#pragma once
#include "x11/XcbConnection.h"

namespace quorvane::backends::x11 {

// Whether a window recording would work on this display: it offers
// Composite, Damage, XFixes and MIT-SHM, its screen's colour depth can be
// recorded, and it can attach this process's shared memory.
bool offersRecording(const XcbConnection& connection);

// Screen recording is allowed when the display named by DISPLAY opens and
// offers recording. Nothing on X11 can change the answer by asking.
bool screenAccessGranted();

} // namespace quorvane::backends::x11
