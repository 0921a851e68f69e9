#pragma once
// The screen capture service of this desktop: X11's, and on a Wayland
// session the desktop portal where X11 sees nothing.
#include "platform/PortalOffer.h"
#include "platform/ScreenCapture.h"

#include <memory>

namespace quorvane::jobs::windows {

// On a Wayland session (with `portal`, made when not given): access is
// granted when X11 grants it or the portal offers window screen casts, and
// without an X display the window list is empty rather than a failure (the
// picker stands in for it). Elsewhere: the X11 service alone.
std::unique_ptr<platform::ScreenCaptureService>
desktopScreenCapture(std::shared_ptr<platform::PortalOffer> portal = nullptr);

} // namespace quorvane::jobs::windows
