#pragma once
// Windows that only the desktop portal can show. On a Wayland session the
// system's window picker (or a choice stored from an earlier run) stands in
// for the window list: the user's choice becomes one screen-cast stream,
// which records like any listed window.
#include "platform/PortalOffer.h"
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

// The window the picker gave: `window` has id 0 (Wayland has no window
// ids), the window's position where the portal tells it (else 0, 0) and its
// size in pixels, and a title and app only where the portal tells them.
struct PortalWindow {
    Window window;
    // Hands the same choice to a later run without the picker; nothing when
    // the desktop does not keep choices.
    std::optional<std::string> restoreToken;
};

// The recording side of the portal; its offer is the same as PortalOffer's.
class PortalCaptureService : public PortalOffer {
  public:
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

// The portal service of this session's desktop.
std::shared_ptr<PortalCaptureService> makePortalCaptureService();

} // namespace quorvane::platform
