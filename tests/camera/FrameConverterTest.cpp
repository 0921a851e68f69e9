// The V4L2 session's picture path: centred square, mirror, scale.
#include "v4l2/FrameConverter.h"
#include "v4l2/YuvSquare.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

TEST(FrameConverter, ChangesTheCameraMatrixToTheMovieMatrix) {
    // Saturated colours coded as cameras code them (BT.601), and as the
    // movie must hold them (BT.709), both video range: white, red, green, blue.
    struct Case {
        int y, u, v; // BT.601
        int y709, u709, v709;
    };
    const Case cases[] = {
        {235, 128, 128, 235, 128, 128},
        {81, 90, 240, 63, 102, 240},
        {145, 54, 34, 173, 42, 26},
        {41, 240, 110, 32, 240, 118},
    };
    for (const auto& c : cases) {
        std::uint8_t y[4], u[1], v[1];
        std::fill(std::begin(y), std::end(y), static_cast<std::uint8_t>(c.y));
        u[0] = static_cast<std::uint8_t>(c.u);
        v[0] = static_cast<std::uint8_t>(c.v);
        std::uint8_t* planes[3] = {y, u, v};
        const int strides[3] = {2, 1, 1};
        bt601ToBt709(planes, strides, 2, false);
        EXPECT_NEAR(y[3], c.y709, 1) << c.y;
        EXPECT_NEAR(u[0], c.u709, 1) << c.y;
        EXPECT_NEAR(v[0], c.v709, 1) << c.y;
    }
    // Full range (JPEG): black and white reach the video-range ends.
    std::uint8_t y[4] = {0, 0, 255, 255}, u[1] = {128}, v[1] = {128};
    std::uint8_t* planes[3] = {y, u, v};
    const int strides[3] = {2, 1, 1};
    bt601ToBt709(planes, strides, 2, true);
    EXPECT_EQ(y[0], 16);
    EXPECT_EQ(y[2], 235);
    EXPECT_EQ(u[0], 128);
}

namespace {

// A camera picture of smooth ramps of colours that R'G'B' can show, in the
// given V4L2 layout with padded rows.
std::vector<std::uint8_t> ramps(std::uint32_t format, int width, int height, int bytesPerLine) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(bytesPerLine) * height * 2, 0);
    auto yAt = [&](int x, int y) {
        return static_cast<std::uint8_t>(60 + (x + y) * 120 / (width + height));
    };
    auto uAt = [&](int x, int) { return static_cast<std::uint8_t>(108 + x * 40 / width); };
    auto vAt = [&](int, int y) { return static_cast<std::uint8_t>(148 - y * 40 / height); };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t row = static_cast<std::size_t>(y) * bytesPerLine;
            if (format == V4L2_PIX_FMT_YUYV) {
                p[row + x * 2] = yAt(x, y);
                p[row + x * 2 + 1] = x % 2 ? vAt(x, y) : uAt(x, y);
                continue;
            }
            p[row + x] = yAt(x, y);
            if (x % 2 || y % 2) continue;
            const std::size_t lumaPlane = static_cast<std::size_t>(bytesPerLine) * height;
            if (format == V4L2_PIX_FMT_NV12) {
                const std::size_t at = lumaPlane + static_cast<std::size_t>(y / 2) * bytesPerLine;
                p[at + x] = uAt(x, y);
                p[at + x + 1] = vAt(x, y);
            } else { // I420: chroma rows half as long
                const std::size_t chromaRow = static_cast<std::size_t>(bytesPerLine / 2);
                const std::size_t at = lumaPlane + (y / 2) * chromaRow + x / 2;
                p[at] = uAt(x, y);
                p[at + chromaRow * (height / 2)] = vAt(x, y);
            }
        }
    return p;
}

} // namespace

TEST(FrameConverter, LibyuvAndSwscaleGiveTheSamePicture) {
    struct Case {
        std::uint32_t format;
        int width, height, bytesPerLine, size;
    };
    const Case cases[] = {
        {V4L2_PIX_FMT_YUYV, 640, 360, 1344, 240}, // scaled down
        {V4L2_PIX_FMT_YUYV, 640, 480, 1280, 480}, // cut only
        {V4L2_PIX_FMT_NV12, 640, 360, 704, 720},  // scaled up
        {V4L2_PIX_FMT_YUV420, 640, 360, 768, 300},
    };
    for (const auto& c : cases) {
        const auto capture = ramps(c.format, c.width, c.height, c.bytesPerLine);
        for (bool mirrored : {false, true}) {
            SquarePicture fast, reference;
            auto a = FrameConverter::make(c.format, c.width, c.height, c.bytesPerLine, c.size);
            auto b = FrameConverter::make(c.format, c.width, c.height, c.bytesPerLine, c.size,
                                          Scaler::swscale);
            ASSERT_TRUE(a && b);
            ASSERT_TRUE(a->convert(capture.data(), capture.size(), mirrored, fast));
            ASSERT_TRUE(b->convert(capture.data(), capture.size(), mirrored, reference));
            ASSERT_EQ(fast.pixels.size(), reference.pixels.size());
            // The filters differ a little at edges; on average they agree.
            double total = 0;
            for (std::size_t i = 0; i < fast.pixels.size(); ++i)
                total += std::abs(int{fast.pixels[i]} - int{reference.pixels[i]});
            EXPECT_LT(total / static_cast<double>(fast.pixels.size()), 2.5)
                << c.format << " " << c.size << (mirrored ? " mirrored" : "");
        }
    }
}
