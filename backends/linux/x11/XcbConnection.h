#pragma once
// One connection to the X display, shared by Xlib (for the few calls only it
// offers, such as decoding COMPOUND_TEXT) and XCB (everything else). XCB owns
// the event queue. Requests made through the helpers below are checked: a
// window that vanished (BadWindow) yields "nothing", never an error event.
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct _XDisplay; // Xlib's Display, kept out of this header

namespace quorvane::backends::x11 {

// Owner of one XCB reply (or error) allocated with malloc.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// A property value as the server holds it.
struct Property {
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 0; // 8, 16 or 32
    std::string bytes;       // the raw value

    // The value read as 32-bit items (windows, atoms, cardinals).
    std::vector<std::uint32_t> items32() const;
};

class XcbConnection {
  public:
    // Opens `displayName` (nullptr: the DISPLAY environment variable).
    // Returns nothing when the display cannot be opened.
    static std::unique_ptr<XcbConnection> open(const char* displayName = nullptr);

    ~XcbConnection();
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    xcb_connection_t* get() const { return connection_; }
    _XDisplay* xlibDisplay() const { return display_; }
    const xcb_screen_t& screen() const { return *screen_; }
    xcb_window_t root() const { return screen_->root; }

    // Whether the connection still works (the server has not gone away).
    bool healthy() const;

    // The atoms of `names`, in order (XCB_ATOM_NONE where interning failed).
    std::vector<xcb_atom_t> atoms(std::initializer_list<std::string_view> names) const;
    xcb_atom_t atom(std::string_view name) const;
    // The name of `atom` ("" when unknown).
    std::string atomName(xcb_atom_t atom) const;

    // The whole value of `property` on `window`; nothing when the window or
    // the property does not exist.
    std::optional<Property> property(xcb_window_t window, xcb_atom_t property,
                                     xcb_atom_t type = XCB_ATOM_ANY) const;

    // Whether the server offers the extension named `name` (e.g. "MIT-SHM").
    bool hasExtension(std::string_view name) const;

    // Only open() makes connections.
    class Key {
        friend class XcbConnection;
        Key() = default;
    };
    XcbConnection(Key, _XDisplay* display, xcb_connection_t* connection,
                  const xcb_screen_t* screen);

  private:
    _XDisplay* display_;
    xcb_connection_t* connection_;
    const xcb_screen_t* screen_;
};

} // namespace quorvane::backends::x11
