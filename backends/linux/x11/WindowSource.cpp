#include "x11/WindowSource.h"

#include "platform/ScreenCapture.h"
#include "x11/ShmSegment.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <memory>

namespace quorvane::backends::x11 {
namespace {

// How long a window may stay unmapped, neither minimized nor mapped again,
// before it counts as gone: window managers unmap first and change its
// state after.
constexpr double unmapGraceSeconds = 1.0;
constexpr std::uint32_t iconicState = 3;

template <typename T> using Owned = std::unique_ptr<T, FreeDeleter>;

bool succeeded(xcb_connection_t* c, xcb_void_cookie_t cookie) {
    xcb_generic_error_t* error = xcb_request_check(c, cookie);
    std::free(error);
    return error == nullptr;
}

[[noreturn]] void missing(const char* extension) {
    throw platform::ScreenCaptureError(std::string("The X display does not offer the ") +
                                       extension + " extension, which window recording needs.");
}

} // namespace

WindowSource::WindowSource(XcbConnection& connection, xcb_window_t window, bool drawCursor)
    : connection_(connection), c_(connection.get()), window_(window), drawCursor_(drawCursor) {
    // Each extension answers only after its version has been asked.
    Owned<xcb_composite_query_version_reply_t> composite(
        xcb_composite_query_version_reply(c_, xcb_composite_query_version(c_, 0, 4), nullptr));
    if (!composite) missing("Composite");
    Owned<xcb_damage_query_version_reply_t> damage(
        xcb_damage_query_version_reply(c_, xcb_damage_query_version(c_, 1, 1), nullptr));
    if (!damage) missing("DAMAGE");
    Owned<xcb_xfixes_query_version_reply_t> fixes(
        xcb_xfixes_query_version_reply(c_, xcb_xfixes_query_version(c_, 4, 0), nullptr));
    if (!fixes) missing("XFIXES");
    Owned<xcb_shm_query_version_reply_t> shm(
        xcb_shm_query_version_reply(c_, xcb_shm_query_version(c_), nullptr));
    if (!shm) missing("MIT-SHM");
    damageEvent_ = xcb_get_extension_data(c_, &xcb_damage_id)->first_event;
    fixesEvent_ = xcb_get_extension_data(c_, &xcb_xfixes_id)->first_event;

    Owned<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window_), nullptr));
    if (!geometry) throw platform::ScreenCaptureError("The window is no longer on screen.");
    width_ = geometry->width;
    height_ = geometry->height;
    Owned<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window_), nullptr));
    if (!attributes) throw platform::ScreenCaptureError("The window is no longer on screen.");
    mapped_ = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    auto layout = pixelLayout(c_, attributes->visual, geometry->depth);
    if (!layout.layout) throw platform::ScreenCaptureError(layout.unsupported);
    layout_ = *layout.layout;
    converter_.emplace(layout_);

    const std::uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (!succeeded(c_,
                   xcb_change_window_attributes_checked(c_, window_, XCB_CW_EVENT_MASK, &events)))
        throw platform::ScreenCaptureError("The window is no longer on screen.");
    // Off-screen contents for this window alone; the server keeps showing it
    // as before, and ends the redirection when this connection closes.
    if (!succeeded(c_, xcb_composite_redirect_window_checked(c_, window_,
                                                             XCB_COMPOSITE_REDIRECT_AUTOMATIC)))
        throw platform::ScreenCaptureError("The window cannot be redirected for recording.");
    damage_ = xcb_generate_id(c_);
    if (!succeeded(
            c_, xcb_damage_create_checked(c_, damage_, window_, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY)))
        throw platform::ScreenCaptureError("The window's changes cannot be followed.");
    if (drawCursor_)
        xcb_xfixes_select_cursor_input(c_, connection_.root(),
                                       XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
    if (mapped_) nameContents();
    xcb_flush(c_);
}

WindowSource::~WindowSource() {
    if (xcb_connection_has_error(c_)) return;
    if (pixmap_) xcb_free_pixmap(c_, pixmap_);
    if (!destroyed_) {
        xcb_damage_destroy(c_, damage_);
        xcb_composite_unredirect_window(c_, window_, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
        xcb_change_window_attributes(c_, window_, XCB_CW_EVENT_MASK, &none);
    }
    xcb_flush(c_);
}

void WindowSource::nameContents() {
    if (pixmap_) {
        xcb_free_pixmap(c_, pixmap_);
        pixmap_ = 0;
    }
    const std::uint32_t pixmap = xcb_generate_id(c_);
    if (!succeeded(c_, xcb_composite_name_window_pixmap_checked(c_, window_, pixmap))) return;
    // The pixmap holds the border too: find where the inside starts.
    Owned<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c_, xcb_get_geometry(c_, pixmap), nullptr));
    if (!geometry) {
        xcb_free_pixmap(c_, pixmap);
        return;
    }
    pixmap_ = pixmap;
    pixmapX_ = (geometry->width - width_) / 2;
    pixmapY_ = (geometry->height - height_) / 2;
    if (pixmapX_ < 0 || pixmapY_ < 0) pixmapX_ = pixmapY_ = 0;
    dirty_ = true;
}

void WindowSource::handleEvents(double now) {
    bool rename = false;
    while (xcb_generic_event_t* raw = xcb_poll_for_event(c_)) {
        Owned<xcb_generic_event_t> event(raw);
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == 0) continue; // an error of a request whose window went away
        if (type == damageEvent_ + XCB_DAMAGE_NOTIFY) {
            // No further event comes until the damage is subtracted, which
            // the next picture does: one event a picture, not one for each
            // drawing request of a busy client.
            dirty_ = true;
            damagePending_ = true;
        } else if (type == fixesEvent_ + XCB_XFIXES_CURSOR_NOTIFY) {
            cursorStale_ = true;
        } else if (type == XCB_CONFIGURE_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_configure_notify_event_t*>(raw);
            if (e->window != window_) continue;
            if (e->width != width_ || e->height != height_) {
                width_ = e->width;
                height_ = e->height;
                rename = true;
            }
        } else if (type == XCB_MAP_NOTIFY) {
            if (reinterpret_cast<xcb_map_notify_event_t*>(raw)->window != window_) continue;
            mapped_ = true;
            rename = true;
        } else if (type == XCB_UNMAP_NOTIFY) {
            if (reinterpret_cast<xcb_unmap_notify_event_t*>(raw)->window != window_) continue;
            mapped_ = false;
            unmappedSince_ = now;
        } else if (type == XCB_DESTROY_NOTIFY) {
            if (reinterpret_cast<xcb_destroy_notify_event_t*>(raw)->window != window_) continue;
            destroyed_ = true;
        }
    }
    if (rename && mapped_ && !destroyed_) nameContents();
    xcb_flush(c_);
}

std::optional<std::string> WindowSource::ended(double now) {
    if (xcb_connection_has_error(c_))
        return std::string("Quorvane lost the connection to the X display.");
    if (destroyed_) return std::string("The recorded window was closed.");
    if (mapped_ || now - unmappedSince_ < unmapGraceSeconds) return std::nullopt;
    // Unmapped for a while: minimized windows stay (their state is iconic),
    // withdrawn ones are gone for good.
    const auto state = connection_.property(window_, connection_.atom("WM_STATE"));
    if (state) {
        const auto items = state->items32();
        if (!items.empty() && items[0] == iconicState) return std::nullopt;
    }
    if (xcb_connection_has_error(c_))
        return std::string("Quorvane lost the connection to the X display.");
    return std::string("The recorded window is no longer on screen.");
}

void WindowSource::readCursorImage() {
    cursorStale_ = false;
    Owned<xcb_xfixes_get_cursor_image_reply_t> image(
        xcb_xfixes_get_cursor_image_reply(c_, xcb_xfixes_get_cursor_image(c_), nullptr));
    if (!image) return;
    cursor_.width = image->width;
    cursor_.height = image->height;
    cursor_.xhot = image->xhot;
    cursor_.yhot = image->yhot;
    cursor_.serial = image->cursor_serial;
    const std::uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(image.get());
    const int count = xcb_xfixes_get_cursor_image_cursor_image_length(image.get());
    cursor_.argb.assign(pixels, pixels + std::max(count, 0));
    if (cursor_.argb.size() < static_cast<std::size_t>(cursor_.width * cursor_.height))
        cursor_.width = cursor_.height = 0;
}

bool WindowSource::changed() {
    if (!mapped_ || !pixmap_ || destroyed_) return false;
    if (drawCursor_) {
        if (cursorStale_) readCursorImage();
        next_ = Drawn{};
        Owned<xcb_query_pointer_reply_t> pointer(
            xcb_query_pointer_reply(c_, xcb_query_pointer(c_, window_), nullptr));
        if (pointer && pointer->same_screen) {
            const int x = pointer->win_x - cursor_.xhot;
            const int y = pointer->win_y - cursor_.yhot;
            const bool visible = cursor_.width > 0 && x < width_ && y < height_ &&
                                 x + cursor_.width > 0 && y + cursor_.height > 0;
            if (visible) next_ = Drawn{true, x, y, cursor_.serial};
        }
        if (next_ != drawn_) return true;
    }
    return dirty_;
}

bool WindowSource::capture(const ShmSegment& segment) {
    if (!pixmap_ || width_ <= 0 || height_ <= 0) return false;
    const std::size_t rowBytes = layout_.rowBytes(width_);
    const std::size_t bytes = rowBytes * static_cast<std::size_t>(height_);
    if (segment.size() < static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4)
        return false;
    // Changes from here on belong to the next picture.
    const bool wasDirty = dirty_;
    dirty_ = false;
    if (damagePending_) {
        xcb_damage_subtract(c_, damage_, XCB_NONE, XCB_NONE);
        damagePending_ = false;
    }
    Owned<xcb_shm_get_image_reply_t> image(xcb_shm_get_image_reply(
        c_,
        xcb_shm_get_image(c_, pixmap_, static_cast<std::int16_t>(pixmapX_),
                          static_cast<std::int16_t>(pixmapY_), static_cast<std::uint16_t>(width_),
                          static_cast<std::uint16_t>(height_), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                          segment.id(), 0),
        nullptr));
    if (!image || image->size < bytes) {
        dirty_ = wasDirty;
        return false;
    }
    converter_->toBgrx(segment.data(), width_, height_, rowBytes);
    if (drawCursor_) {
        drawCursor(segment.data());
        drawn_ = next_;
    }
    return true;
}

void WindowSource::drawCursor(std::uint8_t* pixels) const {
    if (!next_.visible) return;
    // Premultiplied ARGB over BGRX: out = cursor + picture * (1 - alpha).
    for (int cy = 0; cy < cursor_.height; ++cy) {
        const int y = next_.y + cy;
        if (y < 0 || y >= height_) continue;
        for (int cx = 0; cx < cursor_.width; ++cx) {
            const int x = next_.x + cx;
            if (x < 0 || x >= width_) continue;
            const std::uint32_t argb =
                cursor_.argb[static_cast<std::size_t>(cy * cursor_.width + cx)];
            const std::uint32_t alpha = argb >> 24;
            if (alpha == 0) continue;
            std::uint8_t* p = pixels + (static_cast<std::size_t>(y) * width_ + x) * 4;
            const std::uint32_t keep = 255 - alpha;
            p[0] = static_cast<std::uint8_t>(
                std::min<std::uint32_t>(255, (argb & 0xff) + p[0] * keep / 255));
            p[1] = static_cast<std::uint8_t>(
                std::min<std::uint32_t>(255, ((argb >> 8) & 0xff) + p[1] * keep / 255));
            p[2] = static_cast<std::uint8_t>(
                std::min<std::uint32_t>(255, ((argb >> 16) & 0xff) + p[2] * keep / 255));
        }
    }
}

} // namespace quorvane::backends::x11
