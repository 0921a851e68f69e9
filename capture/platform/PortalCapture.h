#pragma once
// Windows that only the desktop portal can show. On a Wayland session the
// system's window picker (or a choice stored from an earlier run) stands in
// for the window list: the user's choice becomes one screen-cast stream,
// which records like any listed window.
#include "platform/ScreenCapture.h"
#include "platform/WindowStream.h"

#include <memory>
#include <optional>
#include <string>

namespace quorvane::platform {

// The user cancelled the picker, the desktop refused, or no answer came in time.
class ScreenAccessRefused : public ScreenCaptureError {
  public:
    using ScreenCaptureError::ScreenCaptureError;
};

// The desktop cannot record windows at all (no portal, or one without
// screen casts of single windows): no permission would change that, so its
// own sentence is shown rather than the permission message.
class ScreenCaptureUnavailable : public ScreenCaptureError {
  public:
    using ScreenCaptureError::ScreenCaptureError;
};

// The window the picker gave: `window` has id 0 (Wayland has no window
// ids), the window's position where the portal tells it (else 0, 0) and its
// size in pixels, and a title and app only where the portal tells them.
struct PortalWindow {
    Window window;
    // Hands the same choice to a later run without the picker; nothing when
    // the desktop does not keep choices.
    std::optional<std::string> restoreToken;
};

class PortalCaptureService {
  public:
    virtual ~PortalCaptureService() = default;

    // Why the desktop portal offers no screen casts of single windows (it
    // does not answer, or offers other kinds only); nothing when it offers
    // them. Never asks the user.
    virtual std::optional<std::string> whyNoWindowCasts() = 0;

    // Restores the choice of `restoreToken` when the desktop still knows it,
    // else opens the window picker, and waits for the stream of the chosen
    // window. Throws ScreenAccessRefused, ScreenCaptureUnavailable when the
    // portal offers no window casts, or ScreenCaptureError on other
    // failures. Called once per run.
    virtual PortalWindow chooseWindow(const std::optional<std::string>& restoreToken,
                                      bool cursor) = 0;

    // A capture service that records the chosen window (id 0) through the
    // portal's stream and every other window through `others`.
    virtual std::unique_ptr<WindowCaptureService>
    captureService(std::unique_ptr<WindowCaptureService> others) = 0;
};

// Whether this is a Wayland session: WAYLAND_DISPLAY is set and
// XDG_SESSION_TYPE is "wayland".
bool isWaylandSession();

// The portal service of this session's desktop.
std::shared_ptr<PortalCaptureService> makePortalCaptureService();

} // namespace quorvane::platform
