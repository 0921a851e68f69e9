#include "pipewire/Pictures.h"

#include <algorithm>
#include <cstring>

namespace quorvane::backends::pipewire {

Region clampRegion(Region region, int width, int height) {
    const int left = std::max(region.x, 0);
    const int top = std::max(region.y, 0);
    const long right = std::min<long>(static_cast<long>(region.x) + region.width, width);
    const long bottom = std::min<long>(static_cast<long>(region.y) + region.height, height);
    if (right <= left || bottom <= top) return Region{0, 0, 0, 0};
    return Region{left, top, static_cast<int>(right - left), static_cast<int>(bottom - top)};
}

void copyRegion(const std::uint8_t* picture, int stride, PixelOrder order, Region region,
                std::vector<std::uint8_t>& out) {
    const std::size_t row = static_cast<std::size_t>(region.width) * 4;
    out.resize(row * static_cast<std::size_t>(region.height));
    for (int y = 0; y < region.height; ++y) {
        const std::uint8_t* from =
            picture + static_cast<std::size_t>(region.y + y) * static_cast<std::size_t>(stride) +
            static_cast<std::size_t>(region.x) * 4;
        std::uint8_t* to = out.data() + row * static_cast<std::size_t>(y);
        if (order == PixelOrder::bgra) {
            std::memcpy(to, from, row);
            continue;
        }
        for (int x = 0; x < region.width; ++x) {
            to[4 * x + 0] = from[4 * x + 2];
            to[4 * x + 1] = from[4 * x + 1];
            to[4 * x + 2] = from[4 * x + 0];
            to[4 * x + 3] = from[4 * x + 3];
        }
    }
}

CursorImage cursorFromBitmap(const std::uint8_t* pixels, int width, int height, int stride,
                             PixelOrder order) {
    CursorImage cursor;
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < width * 4) return cursor;
    cursor.width = width;
    cursor.height = height;
    cursor.bgra.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* from =
            pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
        std::uint8_t* to =
            cursor.bgra.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = from + 4 * x;
            to[4 * x + 0] = order == PixelOrder::bgra ? p[0] : p[2];
            to[4 * x + 1] = p[1];
            to[4 * x + 2] = order == PixelOrder::bgra ? p[2] : p[0];
            to[4 * x + 3] = p[3];
        }
    }
    return cursor;
}

void drawCursor(std::uint8_t* picture, int width, int height, const CursorImage& cursor, int x,
                int y) {
    const int left = x - cursor.hotX;
    const int top = y - cursor.hotY;
    for (int cy = 0; cy < cursor.height; ++cy) {
        const int py = top + cy;
        if (py < 0 || py >= height) continue;
        for (int cx = 0; cx < cursor.width; ++cx) {
            const int px = left + cx;
            if (px < 0 || px >= width) continue;
            const std::uint8_t* c =
                cursor.bgra.data() + (static_cast<std::size_t>(cy) * cursor.width + cx) * 4;
            const unsigned alpha = c[3];
            if (alpha == 0) continue;
            std::uint8_t* p =
                picture + (static_cast<std::size_t>(py) * static_cast<std::size_t>(width) + px) * 4;
            const unsigned keep = 255 - alpha;
            // Premultiplied over: out = cursor + picture × (1 − alpha).
            for (int i = 0; i < 3; ++i)
                p[i] = static_cast<std::uint8_t>(std::min(255u, c[i] + p[i] * keep / 255));
        }
    }
}

} // namespace quorvane::backends::pipewire
