// The V4L2 session's picture path: centred square, mirror, scale.
#include "FrameConverter.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

using namespace quorvane::platform::v4l2;

namespace {

// A 640 × 360 YUYV picture in four bands of grey (40, 90, 160, 220) split at
// x = 140, 320 and 500: the centred 360 × 360 square holds only the middle two.
std::vector<std::uint8_t> quarters(int bytesPerLine) {
    const int width = 640, height = 360;
    std::vector<std::uint8_t> p(static_cast<std::size_t>(bytesPerLine) * height, 0);
    auto level = [](int x) { return x < 140 ? 40 : x < 320 ? 90 : x < 500 ? 160 : 220; };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            p[static_cast<std::size_t>(y) * bytesPerLine + x * 2] =
                static_cast<std::uint8_t>(level(x));
            p[static_cast<std::size_t>(y) * bytesPerLine + x * 2 + 1] = 128;
        }
    return p;
}

int lumaAt(const SquarePicture& picture, int x, int y) {
    return picture.pixels[static_cast<std::size_t>(y) * picture.size + x];
}

} // namespace

TEST(FrameConverter, CutsTheCentredSquareScalesAndMirrors) {
    for (int bytesPerLine : {1280, 1344}) { // rows with and without padding
        auto converter = FrameConverter::make(V4L2_PIX_FMT_YUYV, 640, 360, bytesPerLine, 240);
        ASSERT_NE(converter, nullptr);
        const auto capture = quarters(bytesPerLine);
        SquarePicture plain, mirrored;
        ASSERT_TRUE(converter->convert(capture.data(), capture.size(), false, plain));
        ASSERT_TRUE(converter->convert(capture.data(), capture.size(), true, mirrored));
        ASSERT_EQ(plain.size, 240);
        ASSERT_EQ(plain.pixels.size(), 240u * 240 * 3 / 2);
        const auto frame = plain.frame();
        EXPECT_EQ(frame.width, 240);
        EXPECT_EQ(frame.stride[1], 120);
        // Neither outer band is inside the square.
        EXPECT_NEAR(lumaAt(plain, 2, 120), 90, 4);
        EXPECT_NEAR(lumaAt(plain, 237, 120), 160, 4);
        EXPECT_NEAR(lumaAt(mirrored, 2, 120), 160, 4);
        EXPECT_NEAR(lumaAt(mirrored, 237, 120), 90, 4);
    }
}

TEST(FrameConverter, RefusesWhatItCannotRead) {
    EXPECT_EQ(FrameConverter::make(V4L2_PIX_FMT_H264, 640, 360, 0, 240), nullptr);
    EXPECT_FALSE(canConvert(V4L2_PIX_FMT_SGRBG8));
    EXPECT_TRUE(canConvert(V4L2_PIX_FMT_MJPEG));
    auto converter = FrameConverter::make(V4L2_PIX_FMT_YUYV, 640, 360, 1280, 240);
    std::vector<std::uint8_t> shortBuffer(1000);
    SquarePicture picture;
    EXPECT_FALSE(converter->convert(shortBuffer.data(), shortBuffer.size(), true, picture));
    auto jpeg = FrameConverter::make(V4L2_PIX_FMT_MJPEG, 640, 360, 0, 240);
    ASSERT_NE(jpeg, nullptr);
    EXPECT_FALSE(
        jpeg->convert(shortBuffer.data(), shortBuffer.size(), true, picture)); // not a JPEG
}
