#include "x11/X11Pointer.h"

#include "platform/HostClock.h"
#include "platform/ScreenCapture.h"
#include "x11/XcbConnection.h"

#include <xcb/xinput.h>

#include <vector>

namespace quorvane::backends::x11 {
namespace {

class Pointer final : public platform::PointerSource {
  public:
    explicit Pointer(std::unique_ptr<XcbConnection> connection)
        : connection_(std::move(connection)), c_(connection_->get()) {
        listenForPresses();
    }

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

    int primaryPresses() override {
        const int n = presses_;
        presses_ = later_;
        later_ = 0;
        return n;
    }

    double mainDisplayHeight() override { return connection_->screen().height_in_pixels; }

  private:
    // Raw button events come from the devices themselves, before any grab
    // and however short the press; the master pointer gives one of each.
    void listenForPresses() {
        Reply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(c_, xcb_input_xi_query_version(c_, 2, 2), nullptr));
        if (!version || version->major_version < 2) return; // the buttons are polled only
        xiOpcode_ = xcb_get_extension_data(c_, &xcb_input_id)->major_opcode;
        struct {
            xcb_input_event_mask_t head;
            std::uint32_t bits;
        } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
               XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
                   XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE};
        xcb_input_xi_select_events(c_, connection_->root(), 1, &mask.head);
        readMapping();
    }

    // Raw events name the physical button; the primary button is the one
    // the pointer mapping turns into button 1.
    void readMapping() {
        Reply<xcb_get_pointer_mapping_reply_t> reply(
            xcb_get_pointer_mapping_reply(c_, xcb_get_pointer_mapping(c_), nullptr));
        if (!reply) return;
        const std::uint8_t* map = xcb_get_pointer_mapping_map(reply.get());
        mapping_.assign(map, map + xcb_get_pointer_mapping_map_length(reply.get()));
    }

    bool isPrimary(std::uint32_t physical) const {
        if (physical == 0) return false;
        if (physical > mapping_.size()) return physical == 1;
        return mapping_[physical - 1] == 1;
    }

    // One round trip per tick: location and buttons are read together and
    // the second question reuses the first answer.
    void read() {
        if (fresh_) {
            fresh_ = false;
            return;
        }
        const xcb_query_pointer_cookie_t cookie = xcb_query_pointer(c_, connection_->root());
        Reply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(c_, cookie, nullptr));
        if (reply) {
            x_ = reply->root_x;
            y_ = reply->root_y;
            mask_ = reply->mask;
        }
        countPresses(cookie.sequence);
        fresh_ = true;
    }

    // Events carry the number of the last request the server had handled:
    // a press stamped before the pointer query is in its answer already and
    // belongs to this tick, a later one to the next.
    void countPresses(unsigned querySequence) {
        while (xcb_generic_event_t* raw = xcb_poll_for_event(c_)) {
            Reply<xcb_generic_event_t> event(raw);
            const std::uint8_t type = event->response_type & 0x7f;
            if (type == XCB_MAPPING_NOTIFY) {
                if (reinterpret_cast<xcb_mapping_notify_event_t*>(raw)->request ==
                    XCB_MAPPING_POINTER)
                    readMapping();
                continue;
            }
            if (type != XCB_GE_GENERIC || xiOpcode_ == 0) continue;
            const auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(raw);
            if (generic->extension != xiOpcode_ ||
                generic->event_type != XCB_INPUT_RAW_BUTTON_PRESS)
                continue;
            const auto* press = reinterpret_cast<xcb_input_raw_button_press_event_t*>(raw);
            if (!isPrimary(press->detail)) continue;
            if (static_cast<int>(raw->full_sequence - querySequence) < 0)
                ++presses_;
            else
                ++later_;
        }
    }

    std::unique_ptr<XcbConnection> connection_;
    xcb_connection_t* c_;
    std::uint8_t xiOpcode_ = 0; // 0 without XInput 2
    std::vector<std::uint8_t> mapping_;
    int x_ = 0;
    int y_ = 0;
    std::uint16_t mask_ = 0;
    bool fresh_ = false;
    int presses_ = 0; // primary presses the last reading reflects
    int later_ = 0;   // primary presses after it
};

} // namespace

std::unique_ptr<platform::PointerSource> makePointer() {
    auto connection = XcbConnection::open();
    if (!connection) throw platform::ScreenCaptureError("Quorvane cannot open the X display.");
    return std::make_unique<Pointer>(std::move(connection));
}

} // namespace quorvane::backends::x11
