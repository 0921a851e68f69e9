#pragma once
// The window of a record-window run that X11 cannot see, on a Wayland
// session: the choice stored for the `--app` text, else the system's picker.
#include "platform/PortalCapture.h"

#include <optional>
#include <string>

namespace quorvane::jobs::record_window {

// Chooses through `portal` with the token kept for `app` and keeps the new
// token for the next run. Throws what the portal throws
// (platform::ScreenAccessRefused, platform::ScreenCaptureError).
platform::Window portalWindow(platform::PortalCaptureService& portal,
                              const std::optional<std::string>& app, bool cursor);

} // namespace quorvane::jobs::record_window
