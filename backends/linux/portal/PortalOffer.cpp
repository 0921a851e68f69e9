// The portal's offer, asked without any stream library loaded: the listing
// jobs link this and ScreenCastPortal only.
#include "platform/PortalOffer.h"
#include "portal/ScreenCastPortal.h"
#include "portal/WindowCasts.h"

#include <cstdlib>
#include <string_view>

namespace quorvane::backends::portal {

std::optional<std::string> missingWindowCasts(const std::optional<Offer>& offer) {
    if (!offer) return std::string("The desktop portal does not answer.");
    if ((offer->sourceTypes & kWindowSource) == 0)
        return std::string("The desktop portal cannot record single windows.");
    return std::nullopt;
}

namespace {

class Offered final : public platform::PortalOffer {
  public:
    std::optional<std::string> whyNoWindowCasts() override {
        try {
            return missingWindowCasts(ScreenCastPortal::connect()->offer());
        } catch (const platform::ScreenCaptureError& e) {
            return std::string(e.what());
        }
    }
};

} // namespace
} // namespace quorvane::backends::portal

namespace quorvane::platform {

bool isWaylandSession() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return display && *display && type && std::string_view(type) == "wayland";
}

std::shared_ptr<PortalOffer> makePortalOffer() {
    return std::make_shared<backends::portal::Offered>();
}

} // namespace quorvane::platform
