#pragma once
// One X11 window as a source of pictures: redirected off-screen with
// Composite (so covered and partly off-screen parts are true), read through
// its named pixmap, watched with Damage for changes and with XFixes for the
// cursor. Used from one thread only.
#include "x11/PixelLayout.h"
#include "x11/XcbConnection.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::backends::x11 {

class ShmSegment;

class WindowSource {
  public:
    // Throws platform::ScreenCaptureError when the display lacks an extension,
    // the window is gone or its colour depth cannot be recorded.
    WindowSource(XcbConnection& connection, xcb_window_t window, bool drawCursor);
    ~WindowSource();
    WindowSource(const WindowSource&) = delete;
    WindowSource& operator=(const WindowSource&) = delete;

    // Reads every event that has arrived; `now` is the host clock.
    void handleEvents(double now);

    // Why the window can no longer be recorded (closed, withdrawn by its
    // client, display lost); nothing while it can. A window the window
    // manager keeps (minimized, on another desktop, about to be mapped
    // again) stays.
    std::optional<std::string> ended(double now);

    // Whether the next picture differs from the last one taken: the window
    // changed or the drawn cursor moved or changed. Asks the server where
    // the pointer is. False while the window cannot be read.
    bool changed();

    int width() const { return width_; }
    int height() const { return height_; }

    // Takes the picture into `segment` (BGRX, width() * 4 bytes a row,
    // whatever the window's depth) and draws the cursor on it. False when
    // the window could not be read.
    bool capture(const ShmSegment& segment);

  private:
    void nameContents();
    // Whether the unmapped window was taken off the screen for good, as the
    // server and the window manager now tell it.
    bool withdrawn();
    // Notes a change that may leave the window gone or kept.
    void changedAt(double now);
    void readCursorImage();
    void drawCursor(std::uint8_t* pixels) const;

    XcbConnection& connection_;
    xcb_connection_t* c_;
    const xcb_window_t window_;
    const bool drawCursor_;
    std::optional<PixelConverter> converter_;
    PixelLayout layout_;
    std::uint8_t damageEvent_ = 0;
    std::uint8_t fixesEvent_ = 0;
    std::uint32_t damage_ = 0;
    std::uint32_t pixmap_ = 0; // 0 while none is named
    int width_ = 0;
    int height_ = 0;
    int border_ = 0; // the pixmap holds the border: the inside starts here
    bool mapped_ = true;
    // Whether the window was viewable (its ancestors mapped too) when last
    // asked, and when that was: no event tells of a parent's map.
    bool viewable_ = false;
    double viewableAskedAt_ = 0;
    xcb_atom_t wmState_ = XCB_ATOM_NONE;
    // When the window was last unmapped, reparented or given a new WM_STATE.
    double lastChange_ = 0;
    // The unmapped window was found kept since lastChange_: no need to ask again.
    bool keptChecked_ = false;
    bool destroyed_ = false;
    bool dirty_ = true;          // nothing taken yet
    bool damagePending_ = false; // damage reported and not yet subtracted

    struct Cursor {
        int width = 0, height = 0, xhot = 0, yhot = 0;
        std::uint32_t serial = 0;
        std::vector<std::uint32_t> argb; // premultiplied
    };
    Cursor cursor_;
    bool cursorStale_ = true;
    // Where the cursor was drawn in the last picture taken (window coordinates).
    struct Drawn {
        bool visible = false;
        int x = 0, y = 0;
        std::uint32_t serial = 0;
        bool operator==(const Drawn&) const = default;
    };
    Drawn drawn_;
    Drawn next_;
};

} // namespace quorvane::backends::x11
