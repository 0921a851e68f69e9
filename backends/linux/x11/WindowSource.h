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

    // Why the window can no longer be recorded (closed, gone from the
    // screen for good, display lost); nothing while it can.
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
    int pixmapX_ = 0;          // where the inside starts in the pixmap (border)
    int pixmapY_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool mapped_ = true;
    double unmappedSince_ = 0;
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
