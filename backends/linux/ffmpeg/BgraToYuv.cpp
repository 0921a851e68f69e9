#include "ffmpeg/BgraToYuv.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvane::backends::ffmpeg {
namespace {

// Y = 16 + 219/255 (Kr R + Kg G + Kb B), Kr 0.2126, Kb 0.0722, in 1/16384.
constexpr int kYr = 2992, kYg = 10064, kYb = 1016;
// Cb and Cr = 128 + 224/255 (...), on the sum of four pixels, in 1/4096
// (each row sums to 0, so grey stays grey).
constexpr int kUr = -412, kUg = -1387, kUb = 1799;
constexpr int kVr = 1799, kVg = -1634, kVb = -165;
constexpr int kShift = 14;
constexpr int kYOffset = (16 << kShift) + (1 << (kShift - 1));
constexpr int kCOffset = (128 << kShift) + (1 << (kShift - 1));

inline std::uint8_t clamp8(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

inline std::uint8_t lumaOf(const std::uint8_t* p) {
    return clamp8((kYb * p[0] + kYg * p[1] + kYr * p[2] + kYOffset) >> kShift);
}

void lumaRow(const std::uint8_t* in, std::uint8_t* out, int width) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i coef = _mm_setr_epi16(kYb, kYg >> 1, kYr, 0, kYb, kYg >> 1, kYr, 0);
    const __m128i offset = _mm_set1_epi32(kYOffset);
    const __m128i zero = _mm_setzero_si128();
    // Four pixels: BGRA bytes to 16 bits, B*cb + G*cg and R*cr + A*0 per
    // pixel, then the two halves added (G's coefficient does not fit 16
    // bits signed: taken twice at half).
    auto four = [&](const std::uint8_t* p) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i lo = _mm_unpacklo_epi8(px, zero);
        const __m128i hi = _mm_unpackhi_epi8(px, zero);
        const __m128i gOnly = _mm_setr_epi16(0, kYg - (kYg >> 1), 0, 0, 0, kYg - (kYg >> 1), 0, 0);
        const __m128i mlo = _mm_add_epi32(_mm_madd_epi16(lo, coef), _mm_madd_epi16(lo, gOnly));
        const __m128i mhi = _mm_add_epi32(_mm_madd_epi16(hi, coef), _mm_madd_epi16(hi, gOnly));
        const __m128 a =
            _mm_shuffle_ps(_mm_castsi128_ps(mlo), _mm_castsi128_ps(mhi), _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 b =
            _mm_shuffle_ps(_mm_castsi128_ps(mlo), _mm_castsi128_ps(mhi), _MM_SHUFFLE(3, 1, 3, 1));
        const __m128i sum = _mm_add_epi32(_mm_castps_si128(a), _mm_castps_si128(b));
        return _mm_srai_epi32(_mm_add_epi32(sum, offset), kShift);
    };
    for (; x + 16 <= width; x += 16) {
        const std::uint8_t* p = in + x * 4;
        const __m128i y01 = _mm_packs_epi32(four(p), four(p + 16));
        const __m128i y23 = _mm_packs_epi32(four(p + 32), four(p + 48));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(y01, y23));
    }
#endif
    for (; x < width; ++x)
        out[x] = lumaOf(in + x * 4);
}

void chromaRow(const std::uint8_t* in0, const std::uint8_t* in1, std::uint8_t* u, std::uint8_t* v,
               int width) {
    const int samples = (width + 1) / 2;
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    // B, G, R of two neighbouring columns of two rows, as 16-bit sums.
    auto sums = [&](int x) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in0 + x * 4));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in1 + x * 4));
        const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
        const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
        // [p0 p1] [p2 p3] -> p0+p1, p2+p3 in the low four lanes of each.
        const __m128i s01 = _mm_add_epi16(lo, _mm_srli_si128(lo, 8));
        const __m128i s23 = _mm_add_epi16(hi, _mm_srli_si128(hi, 8));
        return _mm_unpacklo_epi64(s01, s23); // two samples: B G R A B G R A
    };
    const __m128i cu = _mm_setr_epi16(kUb, kUg, kUr, 0, kUb, kUg, kUr, 0);
    const __m128i cv = _mm_setr_epi16(kVb, kVg, kVr, 0, kVb, kVg, kVr, 0);
    const __m128i offset = _mm_set1_epi32(kCOffset);
    // madd gives (B cb + G cg, R cr) per sample; the pairs are added.
    auto finish = [&](__m128i s01, __m128i s23, __m128i c) {
        const __m128i m01 = _mm_madd_epi16(s01, c);
        const __m128i m23 = _mm_madd_epi16(s23, c);
        const __m128 a =
            _mm_shuffle_ps(_mm_castsi128_ps(m01), _mm_castsi128_ps(m23), _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 b =
            _mm_shuffle_ps(_mm_castsi128_ps(m01), _mm_castsi128_ps(m23), _MM_SHUFFLE(3, 1, 3, 1));
        const __m128i sum = _mm_add_epi32(_mm_castps_si128(a), _mm_castps_si128(b));
        return _mm_srai_epi32(_mm_add_epi32(sum, offset), kShift);
    };
    for (; i + 8 <= width / 2; i += 8) {
        const int x = i * 2;
        const __m128i s0 = sums(x), s1 = sums(x + 4), s2 = sums(x + 8), s3 = sums(x + 12);
        const __m128i u8 =
            _mm_packus_epi16(_mm_packs_epi32(finish(s0, s1, cu), finish(s2, s3, cu)), zero);
        const __m128i v8 =
            _mm_packus_epi16(_mm_packs_epi32(finish(s0, s1, cv), finish(s2, s3, cv)), zero);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u + i), u8);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v + i), v8);
    }
#endif
    for (; i < samples; ++i) {
        const int x0 = i * 2;
        const int x1 = std::min(x0 + 1, width - 1);
        int b = 0, g = 0, r = 0;
        for (const std::uint8_t* row : {in0, in1})
            for (int x : {x0, x1}) {
                b += row[x * 4];
                g += row[x * 4 + 1];
                r += row[x * 4 + 2];
            }
        u[i] = clamp8((kUb * b + kUg * g + kUr * r + kCOffset) >> kShift);
        v[i] = clamp8((kVb * b + kVg * g + kVr * r + kCOffset) >> kShift);
    }
}

} // namespace

void bgraToI420Bt709(const std::uint8_t* bgra, int bgraStride, int width, int height,
                     std::uint8_t* y, int yStride, std::uint8_t* u, int uStride, std::uint8_t* v,
                     int vStride) {
    for (int row = 0; row < height; row += 2) {
        const std::uint8_t* in0 = bgra + static_cast<std::ptrdiff_t>(row) * bgraStride;
        const std::uint8_t* in1 = row + 1 < height ? in0 + bgraStride : in0;
        lumaRow(in0, y + static_cast<std::ptrdiff_t>(row) * yStride, width);
        if (row + 1 < height)
            lumaRow(in1, y + static_cast<std::ptrdiff_t>(row + 1) * yStride, width);
        chromaRow(in0, in1, u + static_cast<std::ptrdiff_t>(row / 2) * uStride,
                  v + static_cast<std::ptrdiff_t>(row / 2) * vStride, width);
    }
}

} // namespace quorvane::backends::ffmpeg
