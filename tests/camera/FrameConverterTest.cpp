// The V4L2 session's picture path: centred square, mirror, scale.
#include "v4l2/FrameConverter.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <memory>

using namespace quorvane::backends::v4l2;

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

TEST(FrameConverter, DecodesMotionJpeg) {
    // Most cameras send their larger sizes as JPEG: left half white, right black.
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(
        ::popen("ffmpeg -v error -f lavfi -i 'color=black:s=640x360,format=yuvj422p,"
                "drawbox=x=0:y=0:w=320:h=360:color=white:t=fill' -frames:v 1 -f mjpeg -",
                "r"),
        ::pclose);
    ASSERT_TRUE(pipe);
    std::vector<std::uint8_t> jpeg;
    std::uint8_t buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        jpeg.insert(jpeg.end(), buffer, buffer + n);
    ASSERT_GT(jpeg.size(), 100u);

    auto converter = FrameConverter::make(V4L2_PIX_FMT_MJPEG, 640, 360, 0, 240);
    ASSERT_NE(converter, nullptr);
    SquarePicture picture;
    ASSERT_TRUE(converter->convert(jpeg.data(), jpeg.size(), true, picture));
    ASSERT_EQ(picture.size, 240);
    EXPECT_LT(lumaAt(picture, 10, 120), 30); // black, now on the left
    // drawbox's white is 235 on the JPEG's full-range scale: 218 in video range.
    EXPECT_NEAR(lumaAt(picture, 229, 120), 218, 5); // white, now on the right
}
