#pragma once
// The pixel work of a screen-cast stream: cutting the window's region out of
// a delivered picture into BGRA, and drawing the pointer over it.
#include <cstdint>
#include <vector>

namespace quorvane::backends::pipewire {

struct Region {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The byte order of a 4-byte pixel as it arrives.
enum class PixelOrder { bgra, rgba };

// The part of `region` that lies within a width × height picture (empty
// when none does).
Region clampRegion(Region region, int width, int height);

// Copies `region` (already clamped) of a picture with `stride` bytes per row
// into `out`, tightly packed BGRA rows (region.width × 4 bytes each).
void copyRegion(const std::uint8_t* picture, int stride, PixelOrder order, Region region,
                std::vector<std::uint8_t>& out);

// A pointer image: premultiplied BGRA, `hotX`/`hotY` its hot spot.
struct CursorImage {
    int width = 0;
    int height = 0;
    int hotX = 0;
    int hotY = 0;
    std::vector<std::uint8_t> bgra; // width × height × 4, premultiplied
};

// The pointer image from a stream's cursor bitmap (premultiplied, as
// compositors send it) of `order`, `stride` bytes per row.
CursorImage cursorFromBitmap(const std::uint8_t* pixels, int width, int height, int stride,
                             PixelOrder order);

// Draws `cursor` with its hot spot at (x, y) over a BGRA picture of
// width × height, tightly packed; the parts outside are cut off.
void drawCursor(std::uint8_t* picture, int width, int height, const CursorImage& cursor, int x,
                int y);

} // namespace quorvane::backends::pipewire
