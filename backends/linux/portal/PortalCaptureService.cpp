// The portal path of window recording on a Wayland session: the window
// picker (or a restored choice) through the ScreenCast portal, and the
// chosen window's PipeWire stream as a window capture service.
#include "input/DevicePresses.h"
#include "pipewire/WindowFeed.h"
#include "platform/PortalCapture.h"
#include "portal/ScreenCastPortal.h"
#include "portal/WindowCasts.h"

#include <mutex>

namespace quorvane::backends::portal {
namespace {

using platform::ScreenCaptureError;

// How long the chosen window's stream may take to send its first picture.
constexpr std::chrono::seconds kFirstPicture{10};

class Service final : public platform::PortalCaptureService,
                      public std::enable_shared_from_this<Service> {
  public:
    std::optional<std::string> whyNoWindowCasts() override {
        std::lock_guard guard(lock_);
        try {
            return missingWindowCasts(portal().offer());
        } catch (const ScreenCaptureError& e) {
            return std::string(e.what());
        }
    }

    platform::PortalWindow chooseWindow(const std::optional<std::string>& restoreToken,
                                        bool cursor) override {
        std::lock_guard guard(lock_);
        std::optional<Offer> offer;
        try {
            offer = portal().offer();
        } catch (const ScreenCaptureError& e) {
            throw platform::ScreenCaptureUnavailable(e.what());
        }
        if (auto why = missingWindowCasts(offer)) throw platform::ScreenCaptureUnavailable(*why);
        // The pointer always comes as metadata where it can: the click log
        // reads it even when the movie shows no pointer.
        std::uint32_t mode = kCursorHidden;
        if (offer->cursorModes & kCursorMetadata)
            mode = kCursorMetadata;
        else if (cursor && (offer->cursorModes & kCursorEmbedded))
            mode = kCursorEmbedded;

        const StartedCast cast = portal().start(mode, restoreToken);
        feed_ = pipewire::WindowFeed::open(portal().openPipeWireRemote(), cast.node, kFirstPicture);
        // The desktop's own "stop sharing" ends the recording with its own reason.
        portal().onClosed([feed = std::weak_ptr<pipewire::WindowFeed>(feed_)] {
            if (auto f = feed.lock()) f->endWith("The system stopped the recording.");
        });
        const pipewire::Region region = feed_->windowRegion();

        platform::PortalWindow chosen;
        chosen.window.windowID = 0;
        chosen.window.windowLayer = 0;
        chosen.window.frame =
            platform::Rect{cast.position ? static_cast<double>(cast.position->first) : 0.0,
                           cast.position ? static_cast<double>(cast.position->second) : 0.0,
                           static_cast<double>(region.width), static_cast<double>(region.height)};
        chosen.restoreToken = cast.restoreToken;
        return chosen;
    }

    std::unique_ptr<platform::WindowCaptureService>
    captureService(std::unique_ptr<platform::WindowCaptureService> others) override;

    std::shared_ptr<pipewire::WindowFeed> feed() {
        std::lock_guard guard(lock_);
        return feed_;
    }

    void closeSession() {
        std::lock_guard guard(lock_);
        if (portal_) portal_->close();
    }

  private:
    ScreenCastPortal& portal() {
        if (!portal_) portal_ = ScreenCastPortal::connect();
        return *portal_;
    }

    std::mutex lock_;
    std::unique_ptr<ScreenCastPortal> portal_;
    std::shared_ptr<pipewire::WindowFeed> feed_;
};

// Records the picker's window (id 0) through its stream, and every other
// window through the service it wraps.
class Routing final : public platform::WindowCaptureService {
  public:
    Routing(std::shared_ptr<Service> service, std::unique_ptr<WindowCaptureService> others)
        : service_(std::move(service)), others_(std::move(others)) {}

    platform::ContentFilter makeFilter(const platform::Window& window) override {
        if (window.windowID != 0 || !service_->feed()) {
            portalWindow_.reset();
            return others_->makeFilter(window);
        }
        portalWindow_ = window;
        platform::ContentFilter filter;
        filter.window = window;
        filter.contentRect = platform::Rect{0, 0, window.frame.width, window.frame.height};
        filter.pointPixelScale = 1; // the stream's pixels are the window's
        return filter;
    }

    std::unique_ptr<platform::WindowStream>
    makeStream(const platform::ContentFilter& filter,
               const platform::StreamConfiguration& configuration,
               platform::StreamDelegate& delegate) override {
        if (!portalWindow_) return others_->makeStream(filter, configuration, delegate);
        return service_->feed()->makeStream(configuration, delegate,
                                            [service = service_] { service->closeSession(); });
    }

    std::unique_ptr<platform::PointerSource> makePointerSource() override {
        if (!portalWindow_) return others_->makePointerSource();
        // A screen cast carries no buttons: presses come from the pointer
        // devices the user may read.
        return input::withDevicePresses(service_->feed()->makePointer(portalWindow_->frame));
    }

  private:
    std::shared_ptr<Service> service_;
    std::unique_ptr<WindowCaptureService> others_;
    std::optional<platform::Window> portalWindow_;
};

std::unique_ptr<platform::WindowCaptureService>
Service::captureService(std::unique_ptr<platform::WindowCaptureService> others) {
    return std::make_unique<Routing>(shared_from_this(), std::move(others));
}

} // namespace
} // namespace quorvane::backends::portal

namespace quorvane::platform {

std::shared_ptr<PortalCaptureService> makePortalCaptureService() {
    return std::make_shared<backends::portal::Service>();
}

} // namespace quorvane::platform
