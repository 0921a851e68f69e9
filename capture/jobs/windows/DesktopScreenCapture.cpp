#include "jobs/windows/DesktopScreenCapture.h"

#include <mutex>
#include <optional>

namespace quorvane::jobs::windows {
namespace {

class WaylandDesktop final : public platform::ScreenCaptureService {
  public:
    WaylandDesktop(std::unique_ptr<platform::ScreenCaptureService> x11,
                   std::shared_ptr<platform::PortalOffer> portal)
        : x11_(std::move(x11)), portal_(std::move(portal)) {}

    std::vector<platform::Window> shareableWindows() override {
        try {
            return x11_->shareableWindows();
        } catch (const platform::ScreenCaptureError&) {
            if (x11_->preflightAccess()) throw;
            // No XWayland: every window is the picker's, where there is one.
            if (auto why = whyNoCasts()) throw platform::ScreenCaptureUnavailable(*why);
            return {};
        }
    }

    bool preflightAccess() override { return x11_->preflightAccess() || !whyNoCasts(); }
    // The portal asks the user when a window is chosen, not before.
    bool requestAccess() override { return x11_->requestAccess() || !whyNoCasts(); }

  private:
    std::optional<std::string> whyNoCasts() {
        std::lock_guard guard(lock_);
        if (!asked_) {
            whyNoCasts_ = portal_->whyNoWindowCasts();
            asked_ = true;
        }
        return whyNoCasts_;
    }

    std::unique_ptr<platform::ScreenCaptureService> x11_;
    std::shared_ptr<platform::PortalOffer> portal_;
    std::mutex lock_;
    bool asked_ = false;
    std::optional<std::string> whyNoCasts_;
};

} // namespace

std::unique_ptr<platform::ScreenCaptureService>
desktopScreenCapture(std::shared_ptr<platform::PortalOffer> portal) {
    auto x11 = platform::makeScreenCaptureService();
    if (!platform::isWaylandSession()) return x11;
    if (!portal) portal = platform::makePortalOffer();
    return std::make_unique<WaylandDesktop>(std::move(x11), std::move(portal));
}

} // namespace quorvane::jobs::windows
