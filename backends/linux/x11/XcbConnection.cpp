#include "x11/XcbConnection.h"

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>

#include <cstring>
#include <mutex>

namespace quorvane::backends::x11 {
namespace {

// Xlib's defaults print to standard error and exit the process when the
// server goes away. Here a lost connection is an ordinary failure: the XCB
// calls fail, healthy() turns false, and the job reports it.
int quietIoError(Display*) {
    return 0;
}
void keepRunning(Display*, void*) {}

void silenceXlibFatalErrors(Display* display) {
    static std::once_flag once;
    std::call_once(once, [] { XSetIOErrorHandler(quietIoError); });
    XSetIOErrorExitHandler(display, keepRunning, nullptr);
}

} // namespace

std::vector<std::uint32_t> Property::items32() const {
    std::vector<std::uint32_t> items;
    if (format != 32 || bytes.size() < 4) return items;
    items.resize(bytes.size() / 4);
    std::memcpy(items.data(), bytes.data(), items.size() * 4);
    return items;
}

std::unique_ptr<XcbConnection> XcbConnection::open(const char* displayName) {
    Display* display = XOpenDisplay(displayName);
    if (display == nullptr) return nullptr;
    xcb_connection_t* connection = XGetXCBConnection(display);
    if (connection == nullptr || xcb_connection_has_error(connection)) {
        XCloseDisplay(display);
        return nullptr;
    }
    silenceXlibFatalErrors(display);
    // Events (Damage, cursor changes) are read through XCB, not Xlib.
    XSetEventQueueOwner(display, XCBOwnsEventQueue);
    const xcb_setup_t* setup = xcb_get_setup(connection);
    auto screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < DefaultScreen(display) && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0 || screens.data == nullptr) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::make_unique<XcbConnection>(Key{}, display, connection, screens.data);
}

XcbConnection::XcbConnection(Key, _XDisplay* display, xcb_connection_t* connection,
                             const xcb_screen_t* screen)
    : display_(display), connection_(connection), screen_(screen) {}

XcbConnection::~XcbConnection() {
    // Xlib cannot close a display whose server has gone without complaining on
    // standard error; such a display is left to the end of the process.
    if (healthy()) XCloseDisplay(display_);
}

bool XcbConnection::healthy() const {
    return xcb_connection_has_error(connection_) == 0;
}

std::vector<xcb_atom_t> XcbConnection::atoms(std::initializer_list<std::string_view> names) const {
    std::vector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(names.size());
    for (auto name : names) {
        cookies.push_back(
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data()));
    }
    std::vector<xcb_atom_t> result;
    result.reserve(names.size());
    for (auto cookie : cookies) {
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookie, &error));
        Reply<xcb_generic_error_t> ownedError(error);
        result.push_back(reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE});
    }
    return result;
}

xcb_atom_t XcbConnection::atom(std::string_view name) const {
    return atoms({name}).front();
}

std::string XcbConnection::atomName(xcb_atom_t atom) const {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, atom), &error));
    Reply<xcb_generic_error_t> ownedError(error);
    if (!reply) return {};
    return std::string(xcb_get_atom_name_name(reply.get()),
                       static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
}

std::optional<Property> XcbConnection::property(xcb_window_t window, xcb_atom_t property,
                                                xcb_atom_t type) const {
    if (property == XCB_ATOM_NONE) return std::nullopt;
    // Large enough for any title or window list in one round trip; longer
    // values are read on in further requests.
    constexpr std::uint32_t chunkWords = 16384;
    Property result;
    std::uint32_t offsetWords = 0;
    for (;;) {
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection_,
            xcb_get_property(connection_, 0, window, property, type, offsetWords, chunkWords),
            &error));
        Reply<xcb_generic_error_t> ownedError(error);
        if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
        if (type != XCB_ATOM_ANY && reply->type != type) return std::nullopt;
        result.type = reply->type;
        result.format = reply->format;
        const int length = xcb_get_property_value_length(reply.get());
        if (length > 0) {
            result.bytes.append(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                static_cast<std::size_t>(length));
        }
        if (reply->bytes_after == 0 || length <= 0) break;
        offsetWords += static_cast<std::uint32_t>(length) / 4;
    }
    return result;
}

bool XcbConnection::hasExtension(std::string_view name) const {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_query_extension_reply_t> reply(xcb_query_extension_reply(
        connection_,
        xcb_query_extension(connection_, static_cast<std::uint16_t>(name.size()), name.data()),
        &error));
    Reply<xcb_generic_error_t> ownedError(error);
    return reply && reply->present;
}

} // namespace quorvane::backends::x11
