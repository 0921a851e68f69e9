#pragma once
// The fast road from a camera picture to the recorded square, through
// libyuv: to planar 4:2:0, scaled, mirrored, and the BT.601 matrix of
// cameras turned into the BT.709 one of the movie.
#include <cstdint>
#include <vector>

namespace quorvane::backends::v4l2 {

// How the captured square is laid out (pointers already at its corner).
enum class YuvLayout { yuyv, uyvy, nv12, i420, i422 };

struct YuvSource {
    YuvLayout layout = YuvLayout::i420;
    const std::uint8_t* data[3] = {nullptr, nullptr, nullptr};
    int stride[3] = {0, 0, 0};
    int side = 0;           // width and height of the square
    bool fullRange = false; // JPEG pictures use all 256 levels
};

// Scratch pictures kept between calls so that no picture allocates.
struct YuvScratch {
    std::vector<std::uint8_t> converted;
    std::vector<std::uint8_t> scaled;
};

// Writes the `size` × `size` I420 picture into `planes` (Y, U, V; strides
// size, size / 2, size / 2). False when libyuv refuses.
bool squareToI420(const YuvSource& source, int size, bool mirrored, YuvScratch& scratch,
                  std::uint8_t* const planes[3]);

// Rewrites an I420 picture coded with the BT.601 matrix (video or full range)
// as video-range BT.709, in place.
void bt601ToBt709(std::uint8_t* const planes[3], const int strides[3], int size, bool fullRange);

} // namespace quorvane::backends::v4l2
