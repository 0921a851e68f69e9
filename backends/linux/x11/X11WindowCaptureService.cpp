// The window capture service on an X11 display: content filters, streams of
// one window and the pointer.
#include "platform/HostClock.h"
#include "platform/WindowStream.h"
#include "x11/X11Pointer.h"
#include "x11/X11WindowStream.h"
#include "x11/XcbConnection.h"

namespace quorvane::backends::x11 {
namespace {

using namespace platform;

class X11WindowCaptureService final : public WindowCaptureService {
  public:
    // The window's current inside size; X11 has one pixel per point.
    ContentFilter makeFilter(const Window& window) override {
        const auto connection = backends::x11::XcbConnection::open();
        if (!connection) throw ScreenCaptureError("Quorvane cannot open the X display.");
        backends::x11::Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(
            connection->get(), xcb_get_geometry(connection->get(), window.windowID), nullptr));
        if (!geometry) throw ScreenCaptureError("The window is no longer on screen.");
        ContentFilter filter;
        filter.window = window;
        filter.contentRect =
            Rect{0, 0, static_cast<double>(geometry->width), static_cast<double>(geometry->height)};
        filter.pointPixelScale = 1;
        return filter;
    }

    std::unique_ptr<WindowStream> makeStream(const ContentFilter& filter,
                                             const StreamConfiguration& configuration,
                                             StreamDelegate& delegate) override {
        return backends::x11::makeWindowStream(filter, configuration, delegate);
    }

    std::unique_ptr<PointerSource> makePointerSource() override {
        return backends::x11::makePointer();
    }
};

} // namespace
} // namespace quorvane::backends::x11

namespace quorvane::platform {

using namespace backends::x11;

std::unique_ptr<WindowCaptureService> makeWindowCaptureService() {
    return std::make_unique<X11WindowCaptureService>();
}

} // namespace quorvane::platform
