#pragma once
// Whether the desktop portal can record single windows. This is all that the
// listing jobs (windows, screen-access) ask of it, so it stands apart from the
// recording side (PortalCapture.h) and needs no stream library.
#include "platform/ScreenCapture.h"

#include <memory>
#include <optional>
#include <string>

namespace quorvane::platform {

// The desktop cannot record windows at all (no portal, or one without
// screen casts of single windows): no permission would change that, so its
// own sentence is shown rather than the permission message.
class ScreenCaptureUnavailable : public ScreenCaptureError {
  public:
    using ScreenCaptureError::ScreenCaptureError;
};

class PortalOffer {
  public:
    virtual ~PortalOffer() = default;

    // Why the desktop portal offers no screen casts of single windows (it
    // does not answer, or offers other kinds only); nothing when it offers
    // them. Never asks the user.
    virtual std::optional<std::string> whyNoWindowCasts() = 0;
};

// Whether this is a Wayland session: WAYLAND_DISPLAY is set and
// XDG_SESSION_TYPE is "wayland".
bool isWaylandSession();

// The offer of this session's desktop portal.
std::shared_ptr<PortalOffer> makePortalOffer();

} // namespace quorvane::platform
