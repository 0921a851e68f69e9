#pragma once
#include "x11/XcbConnection.h"

namespace quorvane::backends::x11 {

// Whether this display offers what window recording needs: Composite,
// Damage, XFixes and MIT-SHM.
bool offersRecording(const XcbConnection& connection);

// Screen recording is allowed when the display named by DISPLAY opens and
// offers recording. Nothing on X11 can change the answer by asking.
bool screenAccessGranted();

} // namespace quorvane::backends::x11
