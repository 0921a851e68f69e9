#include "v4l2/YuvSquare.h"

#include <libyuv/convert.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <cmath>

namespace quorvane::backends::v4l2 {
namespace {

struct Planes {
    std::uint8_t* data[3];
    int stride[3];
};

// An I420 picture of `side` pixels inside `buffer`.
Planes planesIn(std::vector<std::uint8_t>& buffer, int side) {
    const std::size_t luma = static_cast<std::size_t>(side) * side;
    buffer.resize(luma + luma / 2);
    std::uint8_t* y = buffer.data();
    return {{y, y + luma, y + luma + luma / 4}, {side, side / 2, side / 2}};
}

bool toI420(const YuvSource& s, const Planes& to) {
    const int n = s.side;
    switch (s.layout) {
    case YuvLayout::yuyv:
        return libyuv::YUY2ToI420(s.data[0], s.stride[0], to.data[0], to.stride[0], to.data[1],
                                  to.stride[1], to.data[2], to.stride[2], n, n) == 0;
    case YuvLayout::uyvy:
        return libyuv::UYVYToI420(s.data[0], s.stride[0], to.data[0], to.stride[0], to.data[1],
                                  to.stride[1], to.data[2], to.stride[2], n, n) == 0;
    case YuvLayout::nv12:
        return libyuv::NV12ToI420(s.data[0], s.stride[0], s.data[1], s.stride[1], to.data[0],
                                  to.stride[0], to.data[1], to.stride[1], to.data[2], to.stride[2],
                                  n, n) == 0;
    case YuvLayout::i422:
        return libyuv::I422ToI420(s.data[0], s.stride[0], s.data[1], s.stride[1], s.data[2],
                                  s.stride[2], to.data[0], to.stride[0], to.data[1], to.stride[1],
                                  to.data[2], to.stride[2], n, n) == 0;
    case YuvLayout::i420:
        return libyuv::I420Copy(s.data[0], s.stride[0], s.data[1], s.stride[1], s.data[2],
                                s.stride[2], to.data[0], to.stride[0], to.data[1], to.stride[1],
                                to.data[2], to.stride[2], n, n) == 0;
    }
    return false;
}

// Fixed-point coefficients (14 fractional bits) of the matrix change.
struct Matrix {
    int ys, yu, yv, yOffset;
    int uu, uv, vu, vv, cOffset;
};

Matrix matrixFor(bool fullRange) {
    // Y'CbCr from one matrix to R'G'B' and on to the other; the luma
    // weights alone define each matrix.
    constexpr double kr601 = 0.299, kb601 = 0.114, kr709 = 0.2126, kb709 = 0.0722;
    const double kg601 = 1 - kr601 - kb601, kg709 = 1 - kr709 - kb709;
    // R' = Y + rv Pr, G' = Y + gu Pb + gv Pr, B' = Y + bu Pb (BT.601).
    const double rv = 2 * (1 - kr601), bu = 2 * (1 - kb601);
    const double gu = -bu * kb601 / kg601, gv = -rv * kr601 / kg601;
    // Y' (BT.709) of that R'G'B', as Y + a Pb + b Pr.
    const double a = kg709 * gu + kb709 * bu, b = kr709 * rv + kg709 * gv;
    // Pb' = (B' - Y') / (2 (1 - kb709)), Pr' = (R' - Y') / (2 (1 - kr709)).
    const double pbU = (bu - a) / (2 * (1 - kb709)), pbV = -b / (2 * (1 - kb709));
    const double prU = -a / (2 * (1 - kr709)), prV = (rv - b) / (2 * (1 - kr709));
    // Input and output code values: video range has 219 luma and 224 chroma
    // steps, full range 255 of each.
    const double lumaIn = fullRange ? 255 : 219, chromaIn = fullRange ? 255 : 224;
    constexpr double one = 1 << 14;
    auto fixed = [](double v) { return static_cast<int>(std::lround(v * one)); };
    Matrix m{};
    m.ys = fixed(219 / lumaIn);
    m.yu = fixed(219 * a / chromaIn);
    m.yv = fixed(219 * b / chromaIn);
    const double lumaZero = fullRange ? 0 : 16;
    m.yOffset = fixed(16) - m.ys * static_cast<int>(lumaZero) + (1 << 13);
    m.uu = fixed(224 * pbU / chromaIn);
    m.uv = fixed(224 * pbV / chromaIn);
    m.vu = fixed(224 * prU / chromaIn);
    m.vv = fixed(224 * prV / chromaIn);
    m.cOffset = fixed(128) + (1 << 13);
    return m;
}

} // namespace

bool squareToI420(const YuvSource& source, int size, bool mirrored, YuvScratch& scratch,
                  std::uint8_t* const planes[3]) {
    const int n = source.side;
    if (n <= 0 || size <= 0 || (n & 1) || (size & 1)) return false;
    const Planes out{{planes[0], planes[1], planes[2]}, {size, size / 2, size / 2}};
    // Convert, scale, mirror: each stage writes straight into the result
    // when it is the last one.
    const bool scales = n != size;
    Planes converted{};
    if (source.layout == YuvLayout::i420 && (scales || mirrored)) {
        converted = {{const_cast<std::uint8_t*>(source.data[0]),
                      const_cast<std::uint8_t*>(source.data[1]),
                      const_cast<std::uint8_t*>(source.data[2])},
                     {source.stride[0], source.stride[1], source.stride[2]}};
    } else {
        converted = scales || mirrored ? planesIn(scratch.converted, n) : out;
        if (!toI420(source, converted)) return false;
    }
    // The matrix change is linear, so it may come before the scaling: on
    // the smaller picture (when that one is ours to change).
    const bool early = scales && n < size && converted.data[0] != source.data[0];
    if (early) bt601ToBt709(converted.data, converted.stride, n, source.fullRange);
    Planes scaled = converted;
    if (scales) {
        scaled = mirrored ? planesIn(scratch.scaled, size) : out;
        if (libyuv::I420Scale(converted.data[0], converted.stride[0], converted.data[1],
                              converted.stride[1], converted.data[2], converted.stride[2], n, n,
                              scaled.data[0], scaled.stride[0], scaled.data[1], scaled.stride[1],
                              scaled.data[2], scaled.stride[2], size, size,
                              libyuv::kFilterBilinear) != 0)
            return false;
    }
    if (mirrored &&
        libyuv::I420Mirror(scaled.data[0], scaled.stride[0], scaled.data[1], scaled.stride[1],
                           scaled.data[2], scaled.stride[2], out.data[0], out.stride[0],
                           out.data[1], out.stride[1], out.data[2], out.stride[2], size, size) != 0)
        return false;
    if (!early) bt601ToBt709(planes, out.stride, size, source.fullRange);
    return true;
}

void bt601ToBt709(std::uint8_t* const planes[3], const int strides[3], int size, bool fullRange) {
    static const Matrix video = matrixFor(false), full = matrixFor(true);
    const Matrix& m = fullRange ? full : video;
    const int half = size / 2;
    // Plain loops over rows, one kind of work each, so that the compiler
    // turns them into vector code.
    std::vector<int> shift(static_cast<std::size_t>(size));
    for (int row = 0; row < half; ++row) {
        std::uint8_t* u = planes[1] + static_cast<std::ptrdiff_t>(row) * strides[1];
        std::uint8_t* v = planes[2] + static_cast<std::ptrdiff_t>(row) * strides[2];
        int* d = shift.data();
        // What the colour adds to the luma of the four samples sharing it.
        for (int x = 0; x < half; ++x) {
            const int du = u[x] - 128, dv = v[x] - 128;
            const int dy = m.yu * du + m.yv * dv + m.yOffset;
            d[2 * x] = dy;
            d[2 * x + 1] = dy;
            const int nu = (m.uu * du + m.uv * dv + m.cOffset) >> 14;
            const int nv = (m.vu * du + m.vv * dv + m.cOffset) >> 14;
            u[x] = static_cast<std::uint8_t>(nu < 0 ? 0 : nu > 255 ? 255 : nu);
            v[x] = static_cast<std::uint8_t>(nv < 0 ? 0 : nv > 255 ? 255 : nv);
        }
        for (int line = 0; line < 2; ++line) {
            std::uint8_t* y = planes[0] + static_cast<std::ptrdiff_t>(2 * row + line) * strides[0];
            for (int x = 0; x < size; ++x) {
                const int ny = (m.ys * y[x] + d[x]) >> 14;
                y[x] = static_cast<std::uint8_t>(ny < 0 ? 0 : ny > 255 ? 255 : ny);
            }
        }
    }
}

} // namespace quorvane::backends::v4l2
