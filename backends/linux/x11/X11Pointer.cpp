#include "x11/X11Pointer.h"

#include "platform/HostClock.h"
#include "platform/ScreenCapture.h"
#include "x11/XcbConnection.h"

namespace quorvane::backends::x11 {
namespace {

class Pointer final : public platform::PointerSource {
  public:
    explicit Pointer(std::unique_ptr<XcbConnection> connection)
        : connection_(std::move(connection)) {}

    double now() override { return platform::hostTimeNow(); }

    // The root window's top-left is the origin of X coordinates; the
    // interface counts upwards from the bottom of the main display.
    platform::Point mouseLocation() override {
        read();
        return {static_cast<double>(x_), mainDisplayHeight() - static_cast<double>(y_)};
    }

    unsigned pressedMouseButtons() override {
        read();
        return (mask_ & XCB_BUTTON_MASK_1) ? 1u : 0u;
    }

    double mainDisplayHeight() override { return connection_->screen().height_in_pixels; }

  private:
    // One round trip per tick: location and buttons are read together and
    // the second question reuses the first answer.
    void read() {
        if (fresh_) {
            fresh_ = false;
            return;
        }
        Reply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(
            connection_->get(), xcb_query_pointer(connection_->get(), connection_->root()),
            nullptr));
        if (reply) {
            x_ = reply->root_x;
            y_ = reply->root_y;
            mask_ = reply->mask;
        }
        fresh_ = true;
    }

    std::unique_ptr<XcbConnection> connection_;
    int x_ = 0;
    int y_ = 0;
    std::uint16_t mask_ = 0;
    bool fresh_ = false;
};

} // namespace

std::unique_ptr<platform::PointerSource> makePointer() {
    auto connection = XcbConnection::open();
    if (!connection) throw platform::ScreenCaptureError("Quorvane cannot open the X display.");
    return std::make_unique<Pointer>(std::move(connection));
}

} // namespace quorvane::backends::x11
