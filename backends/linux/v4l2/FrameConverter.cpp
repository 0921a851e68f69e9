#include "v4l2/FrameConverter.h"

#include "ffmpeg/Handles.h"
#include "v4l2/YuvSquare.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <linux/videodev2.h>
#include <optional>

namespace quorvane::backends::v4l2 {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;
namespace {

struct FormatPair {
    std::uint32_t v4l2;
    AVPixelFormat av;
};
// Uncompressed formats cameras deliver; MJPEG is decoded separately.
constexpr FormatPair rawFormats[] = {
    {V4L2_PIX_FMT_YUYV, AV_PIX_FMT_YUYV422}, {V4L2_PIX_FMT_UYVY, AV_PIX_FMT_UYVY422},
    {V4L2_PIX_FMT_NV12, AV_PIX_FMT_NV12},    {V4L2_PIX_FMT_YUV420, AV_PIX_FMT_YUV420P},
    {V4L2_PIX_FMT_RGB24, AV_PIX_FMT_RGB24},  {V4L2_PIX_FMT_BGR24, AV_PIX_FMT_BGR24},
    {V4L2_PIX_FMT_GREY, AV_PIX_FMT_GRAY8},
};

AVPixelFormat rawFormat(std::uint32_t pixelFormat) {
    for (const auto& pair : rawFormats)
        if (pair.v4l2 == pixelFormat) return pair.av;
    return AV_PIX_FMT_NONE;
}

// Full-range JPEG formats under their plain names (swscale is told the range).
AVPixelFormat plainFormat(AVPixelFormat format, bool& fullRange) {
    fullRange = true;
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        return AV_PIX_FMT_YUV440P;
    default:
        fullRange = false;
        return format;
    }
}

// The libyuv layout of a (plain-named) FFmpeg format, when it has one.
std::optional<YuvLayout> yuvLayout(AVPixelFormat format) {
    switch (format) {
    case AV_PIX_FMT_YUYV422:
        return YuvLayout::yuyv;
    case AV_PIX_FMT_UYVY422:
        return YuvLayout::uyvy;
    case AV_PIX_FMT_NV12:
        return YuvLayout::nv12;
    case AV_PIX_FMT_YUV420P:
        return YuvLayout::i420;
    case AV_PIX_FMT_YUV422P:
        return YuvLayout::i422;
    default:
        return std::nullopt;
    }
}

void mirrorRows(std::uint8_t* plane, int width, int height) {
    for (int y = 0; y < height; ++y)
        std::reverse(plane + static_cast<std::ptrdiff_t>(y) * width,
                     plane + static_cast<std::ptrdiff_t>(y + 1) * width);
}

} // namespace

bool canConvert(std::uint32_t pixelFormat) {
    return isCompressed(pixelFormat) || rawFormat(pixelFormat) != AV_PIX_FMT_NONE;
}

bool isCompressed(std::uint32_t pixelFormat) {
    return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
}

VideoFrame SquarePicture::frame() const {
    VideoFrame frame;
    frame.format = PixelFormat::YUV420P;
    frame.width = size;
    frame.height = size;
    const std::size_t luma = static_cast<std::size_t>(size) * size;
    frame.data[0] = pixels.data();
    frame.data[1] = pixels.data() + luma;
    frame.data[2] = pixels.data() + luma + luma / 4;
    frame.stride[0] = size;
    frame.stride[1] = size / 2;
    frame.stride[2] = size / 2;
    return frame;
}

struct FrameConverter::Impl {
    std::uint32_t pixelFormat = 0;
    int width = 0;
    int height = 0;
    int bytesPerLine = 0;
    int size = 0;
    Scaler choice = Scaler::fastest;
    YuvScratch scratch;
    backends::ffmpeg::CodecContext decoder; // for MJPEG
    backends::ffmpeg::Packet packet{av_packet_alloc()};
    backends::ffmpeg::Frame decoded{av_frame_alloc()};
    backends::ffmpeg::Frame source{av_frame_alloc()};
    backends::ffmpeg::Sws scaler;
    AVPixelFormat scalerFormat = AV_PIX_FMT_NONE;
    int scalerSide = 0;

    // Fills `source` with the captured picture, in place where it can.
    bool read(const std::uint8_t* data, std::size_t bytes) {
        av_frame_unref(source.get());
        if (decoder) {
            packet->data = const_cast<std::uint8_t*>(data);
            packet->size = static_cast<int>(bytes);
            const int sent = avcodec_send_packet(decoder.get(), packet.get());
            packet->data = nullptr;
            packet->size = 0;
            if (sent < 0 || avcodec_receive_frame(decoder.get(), decoded.get()) < 0) return false;
            av_frame_move_ref(source.get(), decoded.get());
            return true;
        }
        const AVPixelFormat format = rawFormat(pixelFormat);
        source->format = format;
        source->width = width;
        source->height = height;
        if (av_image_fill_linesizes(source->linesize, format, width) < 0) return false;
        // Drivers may pad rows: every plane's rows grow in proportion
        // (NV12's chroma rows are as long as its luma rows, I420's half).
        const int natural = source->linesize[0];
        if (bytesPerLine > natural)
            for (int& linesize : source->linesize)
                linesize =
                    static_cast<int>(static_cast<std::int64_t>(linesize) * bytesPerLine / natural);
        const int needed = av_image_fill_pointers(
            source->data, format, height, const_cast<std::uint8_t*>(data), source->linesize);
        return needed > 0 && bytes >= static_cast<std::size_t>(needed);
    }
};

std::unique_ptr<FrameConverter> FrameConverter::make(std::uint32_t pixelFormat, int width,
                                                     int height, int bytesPerLine, int size,
                                                     Scaler scaler) {
    if (!canConvert(pixelFormat) || width <= 0 || height <= 0 || size <= 0) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->pixelFormat = pixelFormat;
    impl->width = width;
    impl->height = height;
    impl->bytesPerLine = bytesPerLine;
    impl->size = size;
    impl->choice = scaler;
    if (!impl->packet || !impl->decoded || !impl->source) return nullptr;
    if (isCompressed(pixelFormat)) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!codec) return nullptr;
        impl->decoder.reset(avcodec_alloc_context3(codec));
        if (!impl->decoder || avcodec_open2(impl->decoder.get(), codec, nullptr) < 0)
            return nullptr;
    }
    return std::make_unique<FrameConverter>(std::move(impl));
}

FrameConverter::FrameConverter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FrameConverter::~FrameConverter() = default;

bool FrameConverter::convert(const std::uint8_t* data, std::size_t bytes, bool mirrored,
                             SquarePicture& out) {
    auto& s = *impl_;
    if (!s.read(data, bytes)) return false;
    AVFrame* source = s.source.get();
    // The centred square, on even coordinates so chroma stays aligned.
    const int side = std::min(source->width, source->height) & ~1;
    source->crop_left = static_cast<std::size_t>((source->width - side) / 2 & ~1);
    source->crop_right = static_cast<std::size_t>(source->width - side) - source->crop_left;
    source->crop_top = static_cast<std::size_t>((source->height - side) / 2 & ~1);
    source->crop_bottom = static_cast<std::size_t>(source->height - side) - source->crop_top;
    if (side <= 0 || av_frame_apply_cropping(source, AV_FRAME_CROP_UNALIGNED) < 0) return false;

    bool fullRange = false;
    const AVPixelFormat format = plainFormat(static_cast<AVPixelFormat>(source->format), fullRange);
    out.size = s.size;
    const std::size_t luma = static_cast<std::size_t>(s.size) * s.size;
    out.pixels.resize(luma + luma / 2);
    const VideoFrame target = out.frame();
    std::uint8_t* planes[4] = {const_cast<std::uint8_t*>(target.data[0]),
                               const_cast<std::uint8_t*>(target.data[1]),
                               const_cast<std::uint8_t*>(target.data[2]), nullptr};
    int strides[4] = {target.stride[0], target.stride[1], target.stride[2], 0};

    if (const auto layout = yuvLayout(format); layout && s.choice == Scaler::fastest) {
        YuvSource square;
        square.layout = *layout;
        square.side = side;
        square.fullRange = fullRange;
        for (int i = 0; i < 3; ++i) {
            square.data[i] = source->data[i];
            square.stride[i] = source->linesize[i];
        }
        return squareToI420(square, s.size, mirrored, s.scratch, planes);
    }

    if (!s.scaler || s.scalerFormat != format || s.scalerSide != side) {
        s.scaler.reset(sws_getContext(side, side, format, s.size, s.size, AV_PIX_FMT_YUV420P,
                                      SWS_FAST_BILINEAR, nullptr, nullptr, nullptr));
        if (!s.scaler) return false;
        s.scalerFormat = format;
        s.scalerSide = side;
        // Cameras send BT.601 pictures (JPEG ones full range); the movie is
        // tagged limited-range BT.709, so the scaler changes the matrix.
        const bool rgb = (av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_RGB) != 0;
        sws_setColorspaceDetails(s.scaler.get(), sws_getCoefficients(SWS_CS_ITU601),
                                 fullRange || rgb ? 1 : 0, sws_getCoefficients(SWS_CS_ITU709), 0, 0,
                                 1 << 16, 1 << 16);
    }
    if (sws_scale(s.scaler.get(), source->data, source->linesize, 0, side, planes, strides) !=
        s.size)
        return false;
    if (mirrored) {
        mirrorRows(planes[0], s.size, s.size);
        mirrorRows(planes[1], s.size / 2, s.size / 2);
        mirrorRows(planes[2], s.size / 2, s.size / 2);
    }
    return true;
}

} // namespace quorvane::backends::v4l2
