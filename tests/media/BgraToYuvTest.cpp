// The quick BGRA to I420 converter against the BT.709 formulas computed in
// doubles, at sizes that exercise the vector loops and the odd tails.
#include "ffmpeg/BgraToYuv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace quorvane::backends::ffmpeg {
namespace {

struct Rgb {
    double r, g, b;
};

double luma(Rgb c) {
    return 16 + 219 * (0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b) / 255;
}
double cb(Rgb c) {
    return 128 + 224 * (-0.2126 * c.r - 0.7152 * c.g + 0.9278 * c.b) / 1.8556 / 255;
}
double cr(Rgb c) {
    return 128 + 224 * (0.7874 * c.r - 0.7152 * c.g - 0.0722 * c.b) / 1.5748 / 255;
}

TEST(BgraToI420Bt709, MatchesTheFormulasAtEverySize) {
    std::mt19937 random(7);
    for (auto [width, height] : {std::pair{1, 1}, {2, 2}, {15, 3}, {33, 7}, {64, 32}, {101, 9}}) {
        const int stride = width * 4 + 12; // rows may be padded
        std::vector<std::uint8_t> bgra(static_cast<std::size_t>(stride) * height);
        for (auto& byte : bgra)
            byte = static_cast<std::uint8_t>(random());
        const int cw = (width + 1) / 2, ch = (height + 1) / 2;
        std::vector<std::uint8_t> y(static_cast<std::size_t>(width) * height), u(cw * ch),
            v(cw * ch);
        bgraToI420Bt709(bgra.data(), stride, width, height, y.data(), width, u.data(), cw, v.data(),
                        cw);
        auto at = [&](int x, int row) {
            const std::uint8_t* p = &bgra[static_cast<std::size_t>(row) * stride + x * 4];
            return Rgb{double(p[2]), double(p[1]), double(p[0])};
        };
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x)
                ASSERT_LE(std::abs(y[row * width + x] - luma(at(x, row))), 1.0)
                    << width << "x" << height << " at " << x << "," << row;
        for (int row = 0; row < ch; ++row)
            for (int x = 0; x < cw; ++x) {
                Rgb mean{0, 0, 0};
                for (int dy : {0, 1})
                    for (int dx : {0, 1}) {
                        const Rgb c =
                            at(std::min(2 * x + dx, width - 1), std::min(2 * row + dy, height - 1));
                        mean = {mean.r + c.r / 4, mean.g + c.g / 4, mean.b + c.b / 4};
                    }
                ASSERT_LE(std::abs(u[row * cw + x] - cb(mean)), 1.0) << width << " " << x;
                ASSERT_LE(std::abs(v[row * cw + x] - cr(mean)), 1.0) << width << " " << x;
            }
    }
}

TEST(BgraToI420Bt709, PrimariesAndGreysLandOnTheirLevels) {
    struct Case {
        std::uint8_t b, g, r;
        int y, u, v;
    };
    // Limited range: black 16, white 235, grey chroma 128.
    for (const Case c : {Case{0, 0, 0, 16, 128, 128}, Case{255, 255, 255, 235, 128, 128},
                         Case{0, 0, 255, 63, 102, 240}, Case{0, 255, 0, 173, 42, 26},
                         Case{255, 0, 0, 32, 240, 118}}) {
        std::vector<std::uint8_t> bgra(32 * 2 * 4);
        for (std::size_t i = 0; i < bgra.size(); i += 4) {
            bgra[i] = c.b;
            bgra[i + 1] = c.g;
            bgra[i + 2] = c.r;
            bgra[i + 3] = 255;
        }
        std::vector<std::uint8_t> y(64), u(16), v(16);
        bgraToI420Bt709(bgra.data(), 128, 32, 2, y.data(), 32, u.data(), 16, v.data(), 16);
        for (int i = 0; i < 64; ++i)
            EXPECT_NEAR(y[i], c.y, 1) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        for (int i = 0; i < 16; ++i) {
            EXPECT_NEAR(u[i], c.u, 1);
            EXPECT_NEAR(v[i], c.v, 1);
        }
    }
}

} // namespace
} // namespace quorvane::backends::ffmpeg
