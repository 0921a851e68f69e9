// The pixel work of the screen-cast stream: the window's region cut out of
// a monitor-sized picture, byte orders, and the pointer drawn over it.
#include "pipewire/Pictures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace quorvane::backends::pipewire {
namespace {

TEST(StreamPictures, RegionIsClampedToThePicture) {
    struct Case {
        Region in;
        Region out;
    } cases[] = {
        {{10, 5, 30, 40}, {10, 5, 30, 40}},   // inside
        {{-5, -5, 20, 20}, {0, 0, 15, 15}},   // over the top-left corner
        {{90, 40, 30, 30}, {90, 40, 10, 10}}, // over the bottom-right corner
        {{0, 0, 500, 500}, {0, 0, 100, 50}},  // larger than the picture
        {{100, 0, 10, 10}, {0, 0, 0, 0}},     // beside it
        {{5, 5, 0, 7}, {0, 0, 0, 0}},         // empty
    };
    for (const auto& c : cases) {
        const Region r = clampRegion(c.in, 100, 50);
        EXPECT_EQ((std::vector<int>{r.x, r.y, r.width, r.height}),
                  (std::vector<int>{c.out.x, c.out.y, c.out.width, c.out.height}));
    }
}

// A 4 × 3 picture with 4 bytes of padding per row; pixel (x, y) holds the
// bytes x, y, 7, 200.
std::vector<std::uint8_t> padded() {
    std::vector<std::uint8_t> p(20 * 3, 0xee);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            std::uint8_t* px = &p[static_cast<std::size_t>(y * 20 + x * 4)];
            px[0] = static_cast<std::uint8_t>(x);
            px[1] = static_cast<std::uint8_t>(y);
            px[2] = 7;
            px[3] = 200;
        }
    return p;
}

TEST(StreamPictures, CopiesTheRegionRowByRowIntoBgra) {
    const auto picture = padded();
    std::vector<std::uint8_t> out;
    copyRegion(picture.data(), 20, PixelOrder::bgra, Region{1, 1, 2, 2}, out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 1, 7, 200, 2, 1, 7, 200, //
                                              1, 2, 7, 200, 2, 2, 7, 200}));
    copyRegion(picture.data(), 20, PixelOrder::rgba, Region{3, 2, 1, 1}, out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{7, 2, 3, 200})); // red and blue swapped
}

CursorImage square(std::uint8_t alpha) {
    // A 2 × 2 white pointer, premultiplied, hot spot at its bottom-right pixel.
    CursorImage c;
    c.width = 2;
    c.height = 2;
    c.hotX = 1;
    c.hotY = 1;
    for (int i = 0; i < 4; ++i)
        c.bgra.insert(c.bgra.end(), {alpha, alpha, alpha, alpha});
    return c;
}

TEST(StreamPictures, PointerIsDrawnAtItsHotSpotAndCutAtTheEdges) {
    std::vector<std::uint8_t> picture(3 * 3 * 4, 0);
    drawCursor(picture.data(), 3, 3, square(255), 0, 0); // only its hot pixel is inside
    EXPECT_EQ(picture[0], 255);
    EXPECT_EQ(picture[3], 0) << "the picture's own alpha is left alone";
    int lit = 0;
    for (std::size_t i = 0; i < picture.size(); i += 4)
        lit += picture[i] != 0;
    EXPECT_EQ(lit, 1);

    // Half-transparent over grey 100: 128 + 100 × 127 / 255 = 177.
    std::vector<std::uint8_t> grey(3 * 3 * 4, 100);
    drawCursor(grey.data(), 3, 3, square(128), 2, 2);
    EXPECT_EQ(grey[(1 * 3 + 1) * 4], 177);
    EXPECT_EQ(grey[(2 * 3 + 2) * 4 + 2], 177);
    EXPECT_EQ(grey[0], 100);
}

TEST(StreamPictures, CursorBitmapKeepsItsPremultipliedValues) {
    // RGBA with a stride of 12 bytes for 2 pixels.
    const std::uint8_t bitmap[] = {10, 20, 30, 40, 50, 60, 70, 80, 0, 0, 0, 0};
    const CursorImage c = cursorFromBitmap(bitmap, 2, 1, 12, PixelOrder::rgba);
    EXPECT_EQ(c.bgra, (std::vector<std::uint8_t>{30, 20, 10, 40, 70, 60, 50, 80}));
    EXPECT_EQ(cursorFromBitmap(bitmap, 4, 1, 12, PixelOrder::rgba).width, 0)
        << "a stride shorter than a row is refused";
    EXPECT_EQ(cursorFromBitmap(nullptr, 2, 1, 12, PixelOrder::rgba).width, 0);
}

} // namespace
} // namespace quorvane::backends::pipewire
