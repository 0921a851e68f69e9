#include "ffmpeg/VideoFrames.h"

#include "ffmpeg/FileUrl.h"
#include "ffmpeg/Handles.h"
#include "ffmpeg/QuietLog.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace quorvane::backends::ffmpeg {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;
namespace {

// Clockwise quarter turns (0…3) that show the stream upright.
int quarterTurns(const AVStream* stream) {
    const auto* matrix = reinterpret_cast<const int32_t*>(
        av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!matrix) return 0;
    const double counterClockwise = av_display_rotation_get(matrix);
    if (!std::isfinite(counterClockwise)) return 0;
    const long turns = std::lround(-counterClockwise / 90.0);
    return static_cast<int>(((turns % 4) + 4) % 4);
}

// The upright picture of an RGB buffer stored turned by `turns` clockwise quarters.
Picture turnUpright(const Picture& stored, int turns) {
    if (turns == 0) return stored;
    const int w = stored.width;
    const int h = stored.height;
    Picture out;
    out.width = turns % 2 ? h : w;
    out.height = turns % 2 ? w : h;
    out.rgb.resize(stored.rgb.size());
    for (int uy = 0; uy < out.height; ++uy) {
        for (int ux = 0; ux < out.width; ++ux) {
            int sx = w - 1 - ux, sy = h - 1 - uy;     // half turn
            if (turns == 1) sx = uy, sy = h - 1 - ux; // quarter clockwise
            if (turns == 3) sx = w - 1 - uy, sy = ux; // quarter counter-clockwise
            const auto from = (static_cast<std::size_t>(sy) * w + sx) * 3;
            const auto to = (static_cast<std::size_t>(uy) * out.width + ux) * 3;
            std::copy_n(&stored.rgb[from], 3, &out.rgb[to]);
        }
    }
    return out;
}

class FfmpegVideo final : public VideoSource {
  public:
    FfmpegVideo(const std::string& path, FrameSeeking seeking) : seeking_(seeking) {
        silenceLibraryLog();
        AVFormatContext* raw = nullptr;
        AVDictionary* options = nullptr;
        onlyFileProtocol(&options);
        int rc = avformat_open_input(&raw, fileUrl(path).c_str(), nullptr, &options);
        av_dict_free(&options);
        if (rc < 0) throw VideoError(errorText(rc));
        format_.reset(raw);
        rc = avformat_find_stream_info(format_.get(), nullptr);
        if (rc < 0) throw VideoError(errorText(rc));
        for (unsigned i = 0; i < format_->nb_streams; ++i) {
            const AVStream* s = format_->streams[i];
            // Cover art in a sound file is a still, not a picture track.
            if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                !(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                stream_ = format_->streams[i];
                break;
            }
        }
        if (stream_) turns_ = quarterTurns(stream_);
    }

    double duration() const override {
        if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0)
            return static_cast<double>(format_->duration) / AV_TIME_BASE;
        if (stream_ && stream_->duration != AV_NOPTS_VALUE && stream_->duration > 0)
            return static_cast<double>(stream_->duration) * av_q2d(stream_->time_base);
        return std::numeric_limits<double>::quiet_NaN();
    }

    bool hasPictureTrack() const override { return stream_ != nullptr; }

    ShownSize shownSize() const override {
        const int w = stream_->codecpar->width;
        const int h = stream_->codecpar->height;
        if (w <= 0 || h <= 0) throw VideoError("Its picture track has no usable size.");
        if (turns_ % 2) return {static_cast<double>(h), static_cast<double>(w)};
        return {static_cast<double>(w), static_cast<double>(h)};
    }

    std::optional<Picture> pictureAt(double seconds, int maxWidth, int maxHeight) override {
        if (!stream_ || !openDecoder()) return std::nullopt;
        const std::int64_t target = streamTime(seconds);
        if (shouldSeek(target)) seekBefore(target);
        if (current_ && currentPts_ > target) return std::nullopt; // could not go back

        for (;;) {
            if (!ahead_ && !decodeAhead()) {
                // The last picture lasts its own duration, no more.
                if (current_ && target < currentEnd())
                    return convert(*current_, currentSerial_, maxWidth, maxHeight);
                return std::nullopt;
            }
            if (aheadPts_ <= target) {
                current_ = std::move(ahead_);
                currentPts_ = aheadPts_;
                currentSerial_ = aheadSerial_;
                continue;
            }
            if (current_) return convert(*current_, currentSerial_, maxWidth, maxHeight);
            // Before the track's first picture that picture is shown; a
            // picture after the target that is not the first says only that
            // the decoder started too late.
            if (!firstPts_ || aheadPts_ > *firstPts_) return std::nullopt;
            return convert(*ahead_, aheadSerial_, maxWidth, maxHeight);
        }
    }

  private:
    bool openDecoder() {
        if (codec_) return true;
        if (decoderFailed_) return false;
        decoderFailed_ = true;
        const AVCodec* decoder = avcodec_find_decoder(stream_->codecpar->codec_id);
        if (!decoder) return false;
        CodecContext context(avcodec_alloc_context3(decoder));
        if (!context || avcodec_parameters_to_context(context.get(), stream_->codecpar) < 0)
            return false;
        // One decoding thread: pictures are taken one at a time, and the
        // detector, not decoding, is what costs.
        context->thread_count = 1;
        if (avcodec_open2(context.get(), decoder, nullptr) < 0) return false;
        packet_.reset(av_packet_alloc());
        if (!packet_) return false;
        codec_ = std::move(context);
        decoderFailed_ = false;
        return true;
    }

    // Whether to jump rather than decode on: going back, or a key frame lies
    // between the decoder's position and the target.
    bool shouldSeek(std::int64_t target) const {
        if (seeking_ == FrameSeeking::everySample) return true;
        if (current_ && currentPts_ > target) return true;
        const std::int64_t position =
            ahead_ ? aheadPts_
                   : (current_ ? currentPts_ : std::numeric_limits<std::int64_t>::min());
        if (position == std::numeric_limits<std::int64_t>::min())
            return false; // at the start already
        const int index = av_index_search_timestamp(stream_, target, AVSEEK_FLAG_BACKWARD);
        if (index < 0) return false;
        const AVIndexEntry* key = avformat_index_get_entry(stream_, index);
        return key && key->timestamp > position;
    }

    // An asked time (a media time with a time scale of 600, counted from
    // the start of the file) in the stream's time base. Rounded down: in a
    // time base of one frame, the picture on screen at 0.55 frames is frame 0.
    std::int64_t streamTime(double seconds) const {
        const std::int64_t ticks = std::llround(seconds * 600);
        std::int64_t target =
            av_rescale_q_rnd(ticks, AVRational{1, 600}, stream_->time_base, AV_ROUND_DOWN);
        if (format_->start_time != AV_NOPTS_VALUE)
            target += av_rescale_q(format_->start_time, AV_TIME_BASE_Q, stream_->time_base);
        return target;
    }

    // Decodes the next picture into ahead_; false at the end.
    bool decodeAhead() {
        ahead_ = decodeNext(aheadPts_);
        aheadSerial_ = ++decoded_;
        if (!ahead_) return false;
        // Decoding from the file's start shows the track's first picture first.
        if (!sought_ && !firstPts_) firstPts_ = aheadPts_;
        return true;
    }

    // Seeks so that decoding starts at or before the picture shown at
    // `target`. A key frame found for the target can be shown after it (its
    // decoding time lies before, its showing time after, as with deep
    // B-frame pyramids and open groups of pictures): then seek further back,
    // twice as far each time, down to the start of the file.
    void seekBefore(std::int64_t target) {
        const std::int64_t second =
            std::max<std::int64_t>(1, av_rescale_q(1, AVRational{1, 1}, stream_->time_base));
        std::int64_t back = 0;
        for (int attempt = 0; attempt < 24; ++attempt) {
            const std::int64_t aim = target - back;
            if (!seek(aim)) {
                if (back == 0) return; // cannot seek: decode on from where it is
                seekToStart();
                return;
            }
            if (!decodeAhead() || aheadPts_ <= target) return;
            if (firstPts_ && aheadPts_ <= *firstPts_) return; // the track's first picture
            back = back == 0 ? second : back * 2;
            if (firstPts_ && aim - back < *firstPts_ - second) {
                seekToStart();
                return;
            }
        }
        seekToStart();
    }

    bool seek(std::int64_t target) {
        if (av_seek_frame(format_.get(), stream_->index, target, AVSEEK_FLAG_BACKWARD) < 0)
            return false;
        resetDecoding();
        return true;
    }

    // Back to the first packet of the file, where the track's first picture is.
    void seekToStart() {
        const std::int64_t start = firstPts_                               ? *firstPts_
                                   : stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time
                                                                           : 0;
        if (av_seek_frame(format_.get(), stream_->index, start, AVSEEK_FLAG_BACKWARD) < 0 &&
            avformat_seek_file(format_.get(), -1, std::numeric_limits<std::int64_t>::min(), 0, 0,
                               0) < 0 &&
            av_seek_frame(format_.get(), -1, 0, AVSEEK_FLAG_BYTE) < 0)
            return;
        resetDecoding();
        sought_ = false; // decoding from the start again
    }

    void resetDecoding() {
        avcodec_flush_buffers(codec_.get());
        current_.reset();
        ahead_.reset();
        inputEnded_ = false;
        lastPts_ = AV_NOPTS_VALUE;
        sought_ = true;
    }

    // The next picture in presentation order, or nothing at the end.
    Frame decodeNext(std::int64_t& pts) {
        Frame frame(av_frame_alloc());
        if (!frame) return nullptr;
        for (;;) {
            const int rc = avcodec_receive_frame(codec_.get(), frame.get());
            if (rc == 0) {
                pts = frame->best_effort_timestamp;
                if (pts == AV_NOPTS_VALUE) pts = lastPts_ == AV_NOPTS_VALUE ? 0 : lastPts_ + 1;
                lastPts_ = pts;
                return frame;
            }
            if (rc != AVERROR(EAGAIN)) return nullptr; // end of stream or a broken decoder
            if (inputEnded_) return nullptr;
            const int read = av_read_frame(format_.get(), packet_.get());
            if (read < 0) {
                inputEnded_ = true;
                avcodec_send_packet(codec_.get(), nullptr); // drain
                continue;
            }
            if (packet_->stream_index == stream_->index)
                avcodec_send_packet(codec_.get(), packet_.get()); // a damaged packet is passed over
            av_packet_unref(packet_.get());
        }
    }

    std::int64_t frameDuration(const AVFrame& frame) const {
        if (frame.pkt_duration > 0) return frame.pkt_duration;
        const AVRational rate = stream_->avg_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            return std::max<std::int64_t>(1, av_rescale_q(1, av_inv_q(rate), stream_->time_base));
        return 1;
    }

    // Where the current (last) picture stops being shown: its own duration,
    // or the track's stated end when that is later.
    std::int64_t currentEnd() const {
        std::int64_t end = currentPts_ + frameDuration(*current_);
        if (stream_->duration != AV_NOPTS_VALUE && stream_->duration > 0) {
            const std::int64_t start = firstPts_                               ? *firstPts_
                                       : stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time
                                                                               : 0;
            end = std::max(end, start + stream_->duration);
        }
        return end;
    }

    // RGB, upright, scaled down to fit the bound keeping proportions. A
    // still stretch of video gives the same decoded picture to several asked
    // times: its converted copy is kept (up to video-frame size) and handed
    // out again.
    std::optional<Picture> convert(const AVFrame& frame, std::uint64_t serial, int maxWidth,
                                   int maxHeight) {
        if (lastConverted_ && lastSerial_ == serial && lastBound_ == std::pair(maxWidth, maxHeight))
            return *lastConverted_;
        lastConverted_.reset();
        auto picture = convertAnew(frame, maxWidth, maxHeight);
        if (picture && picture->rgb.size() <= keptPictureBytes) {
            lastConverted_ = picture;
            lastSerial_ = serial;
            lastBound_ = {maxWidth, maxHeight};
        }
        return picture;
    }

    std::optional<Picture> convertAnew(const AVFrame& frame, int maxWidth, int maxHeight) {
        if (frame.width <= 0 || frame.height <= 0) return std::nullopt;
        const bool quarter = turns_ % 2;
        const double uprightWidth = quarter ? frame.height : frame.width;
        const double uprightHeight = quarter ? frame.width : frame.height;
        const double scale = std::min({1.0, maxWidth / uprightWidth, maxHeight / uprightHeight});
        const int outUprightWidth =
            std::max(1, static_cast<int>(std::lround(uprightWidth * scale)));
        const int outUprightHeight =
            std::max(1, static_cast<int>(std::lround(uprightHeight * scale)));
        Picture stored;
        stored.width = quarter ? outUprightHeight : outUprightWidth;
        stored.height = quarter ? outUprightWidth : outUprightHeight;
        sws_.reset(sws_getCachedContext(sws_.release(), frame.width, frame.height,
                                        static_cast<AVPixelFormat>(frame.format), stored.width,
                                        stored.height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr,
                                        nullptr, nullptr));
        if (!sws_) return std::nullopt;
        // swscale writes whole vector blocks: give it aligned, padded rows,
        // then keep only the pixels.
        const int rowBytes = stored.width * 3;
        const int stride = (rowBytes + 63) / 64 * 64;
        scratch_.resize(static_cast<std::size_t>(stride) * stored.height + 64);
        std::uint8_t* planes[4] = {scratch_.data(), nullptr, nullptr, nullptr};
        int strides[4] = {stride, 0, 0, 0};
        if (sws_scale(sws_.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) <=
            0)
            return std::nullopt;
        stored.rgb.resize(static_cast<std::size_t>(rowBytes) * stored.height);
        for (int row = 0; row < stored.height; ++row)
            std::copy_n(scratch_.data() + static_cast<std::size_t>(row) * stride, rowBytes,
                        stored.rgb.data() + static_cast<std::size_t>(row) * rowBytes);
        return turnUpright(stored, turns_);
    }

    FrameSeeking seeking_;
    InputFormat format_;
    AVStream* stream_ = nullptr;
    int turns_ = 0;
    CodecContext codec_;
    bool decoderFailed_ = false;
    Packet packet_;
    Sws sws_;
    std::vector<std::uint8_t> scratch_;
    bool inputEnded_ = false;
    // The latest picture at or before the last asked time, and the one after
    // it; serials count decoded pictures, so equal serials mean the same one.
    Frame current_;
    std::int64_t currentPts_ = 0;
    std::uint64_t currentSerial_ = 0;
    Frame ahead_;
    std::int64_t aheadPts_ = 0;
    std::uint64_t aheadSerial_ = 0;
    std::uint64_t decoded_ = 0;
    // The last converted picture, while it is of video-frame size.
    static constexpr std::size_t keptPictureBytes = std::size_t{1920} * 1920 * 3;
    std::optional<Picture> lastConverted_;
    std::uint64_t lastSerial_ = 0;
    std::pair<int, int> lastBound_;
    std::int64_t lastPts_ = AV_NOPTS_VALUE;
    // The track's first picture, once seen by decoding from the start; and
    // whether decoding started at a seek rather than at the start.
    std::optional<std::int64_t> firstPts_;
    bool sought_ = false;
};

} // namespace

std::unique_ptr<VideoSource> openVideoFile(const std::string& path, FrameSeeking seeking) {
    return std::make_unique<FfmpegVideo>(path, seeking);
}

} // namespace quorvane::backends::ffmpeg

namespace quorvane::platform {

std::unique_ptr<VideoSource> openVideo(const std::string& path) {
    return backends::ffmpeg::openVideoFile(path, backends::ffmpeg::FrameSeeking::forwardWalk);
}

} // namespace quorvane::platform
