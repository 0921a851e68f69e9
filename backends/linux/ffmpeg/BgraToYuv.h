#pragma once
// BGRA (full range) to I420 with the BT.709 matrix at limited range, the
// colours the movies are tagged with. Several times quicker than the
// general scaler for same-size pictures (SSE2 where the processor has it).
#include <cstdint>

namespace quorvane::backends::ffmpeg {

// `width` and `height` may be odd: the last column or row then makes its
// colour sample alone.
void bgraToI420Bt709(const std::uint8_t* bgra, int bgraStride, int width, int height,
                     std::uint8_t* y, int yStride, std::uint8_t* u, int uStride, std::uint8_t* v,
                     int vStride);

} // namespace quorvane::backends::ffmpeg
