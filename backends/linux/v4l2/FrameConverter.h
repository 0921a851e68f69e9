#pragma once
// Turns one captured camera buffer into the recorded picture: the centred
// square of the capture (aspect fill), scaled to the movie's edge length,
// mirrored left to right when asked, as planar YUV 4:2:0.
#include "platform/MovieWriter.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvane::backends::v4l2 {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

// A size × size YUV 4:2:0 picture in one block: Y, then U, then V.
struct SquarePicture {
    int size = 0;
    std::vector<std::uint8_t> pixels;
    VideoFrame frame() const;
};

// Who cuts, scales, mirrors and converts. libyuv is the quicker for the
// YUV layouts cameras send; swscale reads everything else. Both give the
// movie's video-range BT.709.
enum class Scaler { fastest, swscale };

class FrameConverter {
  public:
    struct Impl;
    // Nothing when the V4L2 pixel format is not one this can read.
    static std::unique_ptr<FrameConverter> make(std::uint32_t pixelFormat, int width, int height,
                                                int bytesPerLine, int size,
                                                Scaler scaler = Scaler::fastest);
    explicit FrameConverter(std::unique_ptr<Impl> impl);
    ~FrameConverter();

    // False when the buffer holds no readable picture (a torn JPEG, a short
    // buffer): the frame is skipped.
    bool convert(const std::uint8_t* data, std::size_t bytes, bool mirrored, SquarePicture& out);

  private:
    std::unique_ptr<Impl> impl_;
};

// Whether make() accepts the format (before its size is known).
bool canConvert(std::uint32_t pixelFormat);
// Compressed formats cost a decode per frame.
bool isCompressed(std::uint32_t pixelFormat);

} // namespace quorvane::backends::v4l2
