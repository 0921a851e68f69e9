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

// How long an unmapped window is left alone after its last change before
// its state is read: a window manager unmaps first and writes WM_STATE
// after, and one that starts up unmaps each window to reparent it.
constexpr double settleSeconds = 1.0;
constexpr std::uint32_t normalState = 1;
// How often a mapped window is asked whether it is viewable.
constexpr double viewablePollSeconds = 0.2;
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
    border_ = geometry->border_width;
    Owned<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window_), nullptr));
    if (!attributes) throw platform::ScreenCaptureError("The window is no longer on screen.");
    mapped_ = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    viewable_ = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    auto layout = pixelLayout(c_, attributes->visual, geometry->depth);
    if (!layout.layout) throw platform::ScreenCaptureError(layout.unsupported);
    layout_ = *layout.layout;
    converter_.emplace(layout_);

    wmState_ = connection_.atom("WM_STATE");
    const std::uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
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
    pixmap_ = pixmap;
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
            // A new size or border width gives the window a new pixmap;
            // the old one keeps the last picture and would freeze the movie.
            const auto* e = reinterpret_cast<xcb_configure_notify_event_t*>(raw);
            if (e->window != window_) continue;
            if (e->width != width_ || e->height != height_ || e->border_width != border_) {
                width_ = e->width;
                height_ = e->height;
                border_ = e->border_width;
                rename = true;
            }
        } else if (type == XCB_MAP_NOTIFY) {
            if (reinterpret_cast<xcb_map_notify_event_t*>(raw)->window != window_) continue;
            mapped_ = true;
            rename = true;
        } else if (type == XCB_UNMAP_NOTIFY) {
            if (reinterpret_cast<xcb_unmap_notify_event_t*>(raw)->window != window_) continue;
            mapped_ = false;
            changedAt(now);
        } else if (type == XCB_REPARENT_NOTIFY) {
            // A window manager that starts takes the window into its frame.
            if (reinterpret_cast<xcb_reparent_notify_event_t*>(raw)->window != window_) continue;
            changedAt(now);
            rename = true;
        } else if (type == XCB_PROPERTY_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_property_notify_event_t*>(raw);
            if (e->window == window_ && e->atom == wmState_) changedAt(now);
        } else if (type == XCB_DESTROY_NOTIFY) {
            if (reinterpret_cast<xcb_destroy_notify_event_t*>(raw)->window != window_) continue;
            destroyed_ = true;
        }
    }
    if (mapped_ && !destroyed_ && (rename || now - viewableAskedAt_ >= viewablePollSeconds)) {
        // A window gets a new pixmap each time it becomes viewable: also
        // when a window manager maps the frame it was just put into, or
        // shows a frame again, which tell this window nothing.
        viewableAskedAt_ = now;
        Owned<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window_), nullptr));
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        if (viewable && (rename || !viewable_ || !pixmap_)) nameContents();
        viewable_ = viewable;
    }
    xcb_flush(c_);
}

void WindowSource::changedAt(double now) {
    lastChange_ = now;
    keptChecked_ = false;
}

std::optional<std::string> WindowSource::ended(double now) {
    if (xcb_connection_has_error(c_))
        return std::string("Quorvane lost the connection to the X display.");
    if (destroyed_) return std::string("The recorded window was closed.");
    if (mapped_ || keptChecked_ || now - lastChange_ < settleSeconds) return std::nullopt;
    const bool gone = withdrawn();
    if (xcb_connection_has_error(c_))
        return std::string("Quorvane lost the connection to the X display.");
    if (destroyed_) return std::string("The recorded window was closed.");
    if (!gone) return std::nullopt;
    return std::string("The recorded window is no longer on screen.");
}

bool WindowSource::withdrawn() {
    // Asked together: the window's map state now (a MapNotify may be on its
    // way), whether a window manager runs (it alone redirects the root's
    // children) and what it says of the window.
    const auto attributesCookie = xcb_get_window_attributes(c_, window_);
    const auto rootCookie = xcb_get_window_attributes(c_, connection_.root());
    Owned<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c_, attributesCookie, nullptr));
    Owned<xcb_get_window_attributes_reply_t> root(
        xcb_get_window_attributes_reply(c_, rootCookie, nullptr));
    if (!attributes) {
        destroyed_ = true; // its DestroyNotify is on the way
        return true;
    }
    if (attributes->map_state != XCB_MAP_STATE_UNMAPPED) return false;
    const bool managed =
        root && (root->all_event_masks & XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT) != 0;
    if (managed) {
        // Minimized (iconic), on another desktop or about to be shown again
        // (normal): the window manager keeps it. Withdrawn, or its WM_STATE
        // deleted: the client took it away.
        const auto state = connection_.property(window_, wmState_);
        if (state) {
            const auto items = state->items32();
            if (!items.empty() && (items[0] == iconicState || items[0] == normalState)) {
                keptChecked_ = true;
                return false;
            }
        }
    }
    // Without a window manager only the client unmaps its window, and any
    // WM_STATE is left over from one that has gone.
    return true;
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
        xcb_shm_get_image(c_, pixmap_, static_cast<std::int16_t>(border_),
                          static_cast<std::int16_t>(border_), static_cast<std::uint16_t>(width_),
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
