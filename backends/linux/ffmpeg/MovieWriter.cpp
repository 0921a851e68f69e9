// The movie writer on FFmpeg: libx264 (+ the native AAC encoder) into a
// fragmented QuickTime movie. Fragments start at every key frame and each
// packet is flushed as it is written, so a killed process leaves a movie that
// plays up to its last key frame. Without sound the fragment before a key
// frame is written out the moment that key frame is encoded, so the file on
// disk is never more than one key-frame interval behind, and the header's
// lengths are brought up to it. A picture that stands still keeps making key
// frames by repeating its encoded key frame: no encoding while nothing moves.
#include "platform/MovieWriter.h"

#include "ffmpeg/BgraToYuv.h"
#include "ffmpeg/FileUrl.h"
#include "ffmpeg/Handles.h"
#include "ffmpeg/MovieDurations.h"
#include "ffmpeg/QuietLog.h"
#include "io/UniqueFd.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <vector>

namespace quorvane::backends::ffmpeg {
namespace {

using namespace platform;

// 90 kHz, the usual movie clock: exact for every common frame rate.
constexpr AVRational kVideoTimeBase{1, 90000};

void check(int code) {
    if (code < 0) throw MovieError(ffmpeg::errorText(code));
}

AVPixelFormat avFormat(PixelFormat f) {
    switch (f) {
    case PixelFormat::BGRA:
        return AV_PIX_FMT_BGRA;
    case PixelFormat::RGBA:
        return AV_PIX_FMT_RGBA;
    case PixelFormat::YUV420P:
        return AV_PIX_FMT_YUV420P;
    }
    return AV_PIX_FMT_NONE;
}

// Where a picture goes in the movie: scaled to fit with its aspect kept and
// centred, or, when it is at most one pixel smaller each way (an odd size in
// an even movie), put at the top-left unscaled with the rest padded.
struct Placement {
    int x = 0, y = 0, width = 0, height = 0;
};

Placement fitPicture(int width, int height, int movieWidth, int movieHeight) {
    if (width <= movieWidth && height <= movieHeight && movieWidth - width <= 1 &&
        movieHeight - height <= 1)
        return {0, 0, width, height};
    const double scale = std::min(static_cast<double>(movieWidth) / width,
                                  static_cast<double>(movieHeight) / height);
    // Even sizes and places, so that the half-size colour planes line up.
    auto even = [](double v, int limit) {
        return std::clamp(2 * static_cast<int>(std::lround(v / 2)), 2, limit);
    };
    const int w = even(width * scale, movieWidth);
    const int h = even(height * scale, movieHeight);
    return {(movieWidth - w) / 4 * 2, (movieHeight - h) / 4 * 2, w, h};
}

class FfmpegMovieWriter final : public MovieWriter {
  public:
    explicit FfmpegMovieWriter(const MovieSettings& s) : settings_(s) {
        const auto& v = s.video;
        if (v.width < 2 || v.height < 2 || v.width % 2 || v.height % 2)
            throw MovieError("The movie size must be even and at least 2 by 2 pixels.");
        AVFormatContext* raw = nullptr;
        const std::string url = ffmpeg::fileUrl(s.path);
        check(avformat_alloc_output_context2(&raw, nullptr, "mov", url.c_str()));
        out_.reset(raw);
        openVideo();
        if (s.audio) openAudio(*s.audio);
        AVDictionary* protocols = nullptr;
        ffmpeg::onlyFileProtocol(&protocols);
        const int opened = avio_open2(&out_->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, &protocols);
        av_dict_free(&protocols);
        check(opened);
        // The same file again, for the lengths in its header (see takePacket).
        header_.reset(::open(s.path.c_str(), O_RDWR | O_CLOEXEC));
        out_->flags |= AVFMT_FLAG_FLUSH_PACKETS;
        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
        av_dict_set(&opts, "flush_packets", "1", 0);
        const int r = avformat_write_header(out_.get(), &opts);
        av_dict_free(&opts);
        check(r);
        packet_.reset(av_packet_alloc());
        held_.reset(av_packet_alloc());
        lastKey_.reset(av_packet_alloc());
        if (!packet_ || !held_ || !lastKey_) throw MovieError("Out of memory.");
    }

    ~FfmpegMovieWriter() override {
        // Abandoned without finish(): close the file as it stands; what was
        // flushed so far stays playable.
    }

    void writeVideo(const VideoFrame& in, double time) override {
        if (finished_) return;
        if (!std::isfinite(time)) return;
        if (std::llround(time * kVideoTimeBase.den) <= lastPts_) return;
        if (keyFrameDue(time)) showAgainBefore(time);
        keyIsNewest_ = false; // frame_ no longer holds the key frame's picture
        convert(in);
        encode(time);
    }

    void refresh(double time) override {
        if (finished_ || frames_ == 0 || !std::isfinite(time)) return;
        if (!keyFrameDue(time)) return;
        showAgainBefore(time);
        if (keyIsNewest_) {
            repeatKey(time);
            return;
        }
        encode(time); // the converted picture is still in frame_
    }

    void writeAudio(const std::int16_t* samples, int count, double time) override {
        if (finished_ || !audio_ || count <= 0 || !std::isfinite(time)) return;
        const int rate = audio_->sample_rate;
        const std::int64_t at = std::llround(time * rate);
        if (audioNext_ < 0) {
            const std::int64_t early = startSound(at);
            if (early >= count) return;
            samples += early * settings_.audio->channels;
            count -= static_cast<int>(early);
            pushSamples(samples, count);
            encodeAudio(false);
            return;
        }
        // Keep sound and picture in step across gaps: fill a hole with silence,
        // drop what overlaps what was already written.
        const std::int64_t expected = audioNext_ + av_audio_fifo_size(fifo_.get());
        std::int64_t skip = 0;
        if (at > expected + rate / 10) {
            pushSilence(static_cast<int>(std::min<std::int64_t>(at - expected, rate * 10)));
        } else if (at + count < expected - rate / 10) {
            return;
        } else if (at < expected - rate / 10) {
            skip = expected - at;
        }
        samples += skip * settings_.audio->channels;
        count -= static_cast<int>(skip);
        pushSamples(samples, count);
        encodeAudio(false);
    }

    void finish(double endTime) override {
        if (finished_) return;
        finished_ = true;
        if (std::isfinite(endTime)) showAgainBefore(endTime);
        check(avcodec_send_frame(video_.get(), nullptr));
        drainVideo();
        double videoEnd = 0;
        if (haveHeld_) {
            // The last picture lasts until the stop, however long it stood still.
            const std::int64_t end = std::llround(endTime * kVideoTimeBase.den);
            held_->duration = std::max<std::int64_t>(end - held_->dts, 1);
            videoEnd = static_cast<double>(held_->dts + held_->duration) / kVideoTimeBase.den;
            writeHeld();
        }
        if (audio_) {
            encodeAudio(true);
            check(avcodec_send_frame(audio_.get(), nullptr));
            drainAudio();
        }
        check(av_write_trailer(out_.get()));
        checkIo();
        check(avio_closep(&out_->pb));
        // Best effort: readers that walk the fragments read the whole movie anyway.
        if (videoEnd > 0) ffmpeg::writeMovieDurations(header_.get(), {videoEnd});
        header_.reset();
    }

    std::int64_t framesWritten() const override { return frames_; }

    double keyFrameDueAt() const override {
        return frames_ == 0 ? 0 : lastKeyTime_ + settings_.video.keyFrameSeconds - 1e-6;
    }

  private:
    bool keyFrameDue(double time) const {
        return frames_ == 0 || time - lastKeyTime_ >= settings_.video.keyFrameSeconds - 1e-6;
    }

    // Before a fragment ends (at a key frame, or at the end of the movie) a
    // picture that stood still for two frame intervals or more is shown once
    // more one interval before, so that seeking anywhere up to the end finds
    // a picture there, in a finished movie and in one cut short alike, and
    // pictures stay at least one interval apart.
    void showAgainBefore(double time) {
        const double interval = 1.0 / std::max(1.0, settings_.video.expectedFps);
        if (frames_ == 0 || time - lastTime_ < 2 * interval - 1e-6) return;
        if (keyIsNewest_)
            repeatKey(time - interval);
        else
            encode(time - interval, /*mayBeKey=*/false);
    }

    // The newest packet, a key frame of the picture still in frame_, once
    // more at `time`: the same picture as a key frame (and a fragment)
    // without encoding it again. The encoder's own next picture follows on
    // from it as from the original, whose copy it is.
    void repeatKey(double time) {
        const std::int64_t pts = std::llround(time * kVideoTimeBase.den);
        if (pts <= lastPts_) return;
        check(av_packet_ref(packet_.get(), lastKey_.get()));
        packet_->pts = pts;
        packet_->dts = pts;
        packet_->duration = 0;
        lastPts_ = pts;
        lastTime_ = time;
        lastKeyTime_ = time;
        ++frames_;
        takePacket();
    }

    // Encodes the picture in frame_ shown from `time`; dropped unless later
    // than the previous one.
    void encode(double time, bool mayBeKey = true) {
        const std::int64_t pts = std::llround(time * kVideoTimeBase.den);
        if (pts <= lastPts_) return;
        frame_->pts = pts;
        const bool key = mayBeKey && keyFrameDue(time);
        frame_->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (key) lastKeyTime_ = time;
        lastPts_ = pts;
        lastTime_ = time;
        ++frames_;
        check(avcodec_send_frame(video_.get(), frame_.get()));
        drainVideo();
    }

    void openVideo() {
        const auto& v = settings_.video;
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        if (!codec) throw MovieError("The H.264 encoder is not available.");
        video_.reset(avcodec_alloc_context3(codec));
        auto* c = video_.get();
        c->width = v.width;
        c->height = v.height;
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        c->time_base = kVideoTimeBase;
        const int fps = std::max(1, static_cast<int>(std::lround(v.expectedFps)));
        c->framerate = AVRational{fps, 1};
        c->gop_size = std::max(1, static_cast<int>(std::lround(v.keyFrameSeconds * fps)));
        c->max_b_frames = 0; // packets in presentation order: durations follow from the next one
        c->colorspace = AVCOL_SPC_BT709;
        c->color_primaries = AVCOL_PRI_BT709;
        c->color_trc = AVCOL_TRC_BT709;
        c->color_range = AVCOL_RANGE_MPEG;
        if (v.bitRate > 0) {
            c->bit_rate = v.bitRate;
            c->rc_max_rate = v.bitRate * 3 / 2;
            c->rc_buffer_size = static_cast<int>(std::min<std::int64_t>(v.bitRate * 2, INT32_MAX));
        } else {
            av_opt_set(c->priv_data, "crf", "23", 0);
        }
        av_opt_set(c->priv_data, "preset", v.preset.c_str(), 0);
        if (v.zeroLatency) av_opt_set(c->priv_data, "tune", "zerolatency", 0);
        av_opt_set(c->priv_data, "forced-idr", "1", 0);
        if (out_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        check(avcodec_open2(c, codec, nullptr));

        videoStream_ = avformat_new_stream(out_.get(), nullptr);
        if (!videoStream_) throw MovieError("Out of memory.");
        videoStream_->time_base = kVideoTimeBase;
        check(avcodec_parameters_from_context(videoStream_->codecpar, c));

        frame_.reset(av_frame_alloc());
        if (!frame_) throw MovieError("Out of memory.");
        frame_->format = c->pix_fmt;
        frame_->width = c->width;
        frame_->height = c->height;
        frame_->color_range = AVCOL_RANGE_MPEG;
        frame_->colorspace = AVCOL_SPC_BT709;
        check(av_frame_get_buffer(frame_.get(), 0));
    }

    void openAudio(const AudioSettings& a) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec) throw MovieError("The AAC encoder is not available.");
        audio_.reset(avcodec_alloc_context3(codec));
        auto* c = audio_.get();
        c->sample_fmt = AV_SAMPLE_FMT_FLTP;
        c->sample_rate = a.sampleRate;
        av_channel_layout_default(&c->ch_layout, a.channels);
        c->bit_rate = a.bitRate;
        c->time_base = AVRational{1, a.sampleRate};
        if (out_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        check(avcodec_open2(c, codec, nullptr));

        audioStream_ = avformat_new_stream(out_.get(), nullptr);
        if (!audioStream_) throw MovieError("Out of memory.");
        audioStream_->time_base = c->time_base;
        check(avcodec_parameters_from_context(audioStream_->codecpar, c));

        SwrContext* swr = nullptr;
        AVChannelLayout layout;
        av_channel_layout_default(&layout, a.channels);
        check(swr_alloc_set_opts2(&swr, &c->ch_layout, AV_SAMPLE_FMT_FLTP, a.sampleRate, &layout,
                                  AV_SAMPLE_FMT_S16, a.sampleRate, 0, nullptr));
        swr_.reset(swr);
        check(swr_init(swr));
        fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, a.channels, c->frame_size * 4));
        audioFrame_.reset(av_frame_alloc());
        if (!fifo_ || !audioFrame_) throw MovieError("Out of memory.");
    }

    void convert(const VideoFrame& in) {
        if (in.width <= 0 || in.height <= 0 || !in.data[0])
            throw MovieError("The picture to write is empty.");
        const AVPixelFormat fmt = avFormat(in.format);
        const Placement place = fitPicture(in.width, in.height, frame_->width, frame_->height);
        check(av_frame_make_writable(frame_.get()));
        if (in.format == PixelFormat::BGRA && place.width == in.width &&
            place.height == in.height) {
            // Nothing to scale: the quick converter, straight into place.
            if (!bgraPlaced_ || bgraPlaced_->x != place.x || bgraPlaced_->y != place.y ||
                bgraPlaced_->width != place.width || bgraPlaced_->height != place.height) {
                if (place.width != frame_->width || place.height != frame_->height) paintBlack();
                bgraPlaced_ = place;
                sws_.reset(); // a later scaled picture sets its own up
            }
            ffmpeg::bgraToI420Bt709(
                in.data[0], in.stride[0], in.width, in.height,
                frame_->data[0] + static_cast<std::ptrdiff_t>(place.y) * frame_->linesize[0] +
                    place.x,
                frame_->linesize[0],
                frame_->data[1] + static_cast<std::ptrdiff_t>(place.y / 2) * frame_->linesize[1] +
                    place.x / 2,
                frame_->linesize[1],
                frame_->data[2] + static_cast<std::ptrdiff_t>(place.y / 2) * frame_->linesize[2] +
                    place.x / 2,
                frame_->linesize[2]);
            return;
        }
        bgraPlaced_.reset();
        if (!sws_ || swsFormat_ != fmt || swsWidth_ != in.width || swsHeight_ != in.height) {
            sws_.reset(sws_getContext(in.width, in.height, fmt, place.width, place.height,
                                      AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
            if (!sws_) throw MovieError("The picture cannot be converted for the movie.");
            const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
            // Screen and camera pixels are full range; the movie is limited-range BT.709.
            const bool rgb = in.format != PixelFormat::YUV420P;
            sws_setColorspaceDetails(sws_.get(), bt709, rgb ? 1 : 0, bt709, 0, 0, 1 << 16, 1 << 16);
            swsFormat_ = fmt;
            swsWidth_ = in.width;
            swsHeight_ = in.height;
            // What the picture leaves free is black.
            if (place.width != frame_->width || place.height != frame_->height) paintBlack();
        }
        if (place.width == frame_->width && place.height == frame_->height) {
            sws_scale(sws_.get(), in.data, in.stride, 0, in.height, frame_->data, frame_->linesize);
            return;
        }
        // The scaler may write past the end of its rows: scale aside, then
        // copy exactly the picture's rectangle onto the black.
        if (!placed_ || placed_->width != place.width || placed_->height != place.height) {
            placed_.reset(av_frame_alloc());
            if (!placed_) throw MovieError("Out of memory.");
            placed_->format = AV_PIX_FMT_YUV420P;
            placed_->width = place.width;
            placed_->height = place.height;
            check(av_frame_get_buffer(placed_.get(), 0));
        }
        sws_scale(sws_.get(), in.data, in.stride, 0, in.height, placed_->data, placed_->linesize);
        for (int i = 0; i < 3; ++i) {
            const int shift = i == 0 ? 0 : 1;
            const int rows = (place.height + shift) >> shift;
            const int bytes = (place.width + shift) >> shift;
            std::uint8_t* to = frame_->data[i] +
                               static_cast<std::ptrdiff_t>(place.y >> shift) * frame_->linesize[i] +
                               (place.x >> shift);
            for (int r = 0; r < rows; ++r)
                std::memcpy(to + static_cast<std::ptrdiff_t>(r) * frame_->linesize[i],
                            placed_->data[i] +
                                static_cast<std::ptrdiff_t>(r) * placed_->linesize[i],
                            static_cast<std::size_t>(bytes));
        }
    }

    void paintBlack() {
        for (int i = 0; i < 3; ++i) {
            const int rows = i == 0 ? frame_->height : (frame_->height + 1) / 2;
            const int bytes = i == 0 ? frame_->width : (frame_->width + 1) / 2;
            for (int r = 0; r < rows; ++r)
                std::memset(frame_->data[i] + static_cast<std::ptrdiff_t>(r) * frame_->linesize[i],
                            i == 0 ? 16 : 128, static_cast<std::size_t>(bytes));
        }
    }

    void drainVideo() {
        for (;;) {
            const int r = avcodec_receive_packet(video_.get(), packet_.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
            check(r);
            keyIsNewest_ = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
            if (keyIsNewest_) {
                av_packet_unref(lastKey_.get());
                check(av_packet_ref(lastKey_.get(), packet_.get()));
            }
            takePacket();
        }
    }

    // Writes the held packet now that packet_, the next one, tells its
    // duration, and holds packet_ in its place.
    void takePacket() {
        if (haveHeld_) {
            held_->duration = std::max<std::int64_t>(packet_->dts - held_->dts, 1);
            writeHeld();
            // Everything before this key frame is complete: out to disk.
            if (!audio_ && (packet_->flags & AV_PKT_FLAG_KEY)) {
                flushFragment();
                ffmpeg::writeMovieDurations(
                    header_.get(), {static_cast<double>(packet_->dts) / kVideoTimeBase.den});
            }
        }
        av_packet_move_ref(held_.get(), packet_.get());
        haveHeld_ = true;
    }

    void writeHeld() {
        held_->stream_index = videoStream_->index;
        av_packet_rescale_ts(held_.get(), kVideoTimeBase, videoStream_->time_base);
        const int r = av_interleaved_write_frame(out_.get(), held_.get());
        haveHeld_ = false;
        check(r);
        checkIo();
    }

    void flushFragment() {
        check(av_write_frame(out_.get(), nullptr));
        checkIo();
    }

    // The sound track begins with the movie: silence up to the first
    // sample's own time after the first picture, so that a player that
    // plays the track back to back hears it where it was heard. The
    // encoder's priming samples, which a fragmented movie cannot mark for
    // skipping, are part of that silence. Returns how many of the first
    // samples come before the track's start and are left out.
    std::int64_t startSound(std::int64_t at) {
        const std::int64_t priming = audio_->initial_padding;
        const std::int64_t longest = std::int64_t{audio_->sample_rate} * 10;
        audioNext_ = std::max(priming, at - longest);
        if (at <= audioNext_) return audioNext_ - at;
        for (std::int64_t left = at - audioNext_; left > 0;) {
            const int piece = static_cast<int>(std::min<std::int64_t>(left, audio_->sample_rate));
            pushSilence(piece);
            encodeAudio(false);
            left -= piece;
        }
        return 0;
    }

    void pushSamples(const std::int16_t* samples, int count) {
        if (count <= 0) return;
        const int channels = settings_.audio->channels;
        planes_.resize(static_cast<std::size_t>(channels));
        std::vector<std::uint8_t*> ptrs;
        for (auto& p : planes_) {
            p.resize(static_cast<std::size_t>(count));
            ptrs.push_back(reinterpret_cast<std::uint8_t*>(p.data()));
        }
        const auto* src = reinterpret_cast<const std::uint8_t*>(samples);
        const int n = swr_convert(swr_.get(), ptrs.data(), count, &src, count);
        check(n);
        if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(ptrs.data()), n) < n)
            throw MovieError("Out of memory.");
    }

    void pushSilence(int count) {
        std::vector<std::int16_t> zeros(static_cast<std::size_t>(count) *
                                        settings_.audio->channels);
        pushSamples(zeros.data(), count);
    }

    void encodeAudio(bool flushPartial) {
        auto* c = audio_.get();
        const int size = c->frame_size;
        while (av_audio_fifo_size(fifo_.get()) >= size ||
               (flushPartial && av_audio_fifo_size(fifo_.get()) > 0)) {
            const int n = std::min(size, av_audio_fifo_size(fifo_.get()));
            av_frame_unref(audioFrame_.get());
            audioFrame_->nb_samples = size; // a short last frame is padded with silence
            audioFrame_->format = c->sample_fmt;
            audioFrame_->sample_rate = c->sample_rate;
            check(av_channel_layout_copy(&audioFrame_->ch_layout, &c->ch_layout));
            check(av_frame_get_buffer(audioFrame_.get(), 0));
            if (n < size)
                av_samples_set_silence(audioFrame_->data, 0, size, c->ch_layout.nb_channels,
                                       c->sample_fmt);
            av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(audioFrame_->data), n);
            audioFrame_->pts = audioNext_;
            audioNext_ += n;
            check(avcodec_send_frame(c, audioFrame_.get()));
            drainAudio();
        }
    }

    void drainAudio() {
        for (;;) {
            const int r = avcodec_receive_packet(audio_.get(), packet_.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
            check(r);
            packet_->stream_index = audioStream_->index;
            av_packet_rescale_ts(packet_.get(), audio_->time_base, audioStream_->time_base);
            check(av_interleaved_write_frame(out_.get(), packet_.get()));
            checkIo();
        }
    }

    void checkIo() {
        if (out_->pb && out_->pb->error < 0) throw MovieError(ffmpeg::errorText(out_->pb->error));
    }

    MovieSettings settings_;
    ffmpeg::OutputFormat out_;
    ffmpeg::CodecContext video_;
    ffmpeg::CodecContext audio_;
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;
    ffmpeg::Frame frame_;
    ffmpeg::Frame audioFrame_;
    ffmpeg::Frame placed_;                // a picture scaled to fit, before it goes onto the black
    std::optional<Placement> bgraPlaced_; // where the quick converter last wrote
    ffmpeg::Packet packet_;
    ffmpeg::Packet held_; // the newest video packet, written once its duration is known
    bool haveHeld_ = false;
    io::UniqueFd header_;      // the movie, for the lengths in its header
    ffmpeg::Packet lastKey_;   // the newest key frame the encoder made
    bool keyIsNewest_ = false; // and nothing was encoded or converted since
    ffmpeg::Sws sws_;
    AVPixelFormat swsFormat_ = AV_PIX_FMT_NONE;
    int swsWidth_ = 0;
    int swsHeight_ = 0;
    ffmpeg::Swr swr_;
    ffmpeg::AudioFifo fifo_;
    std::vector<std::vector<float>> planes_;
    std::int64_t audioNext_ = -1; // pts of the first sample in the fifo
    std::int64_t lastPts_ = std::numeric_limits<std::int64_t>::min();
    double lastKeyTime_ = 0;
    double lastTime_ = 0; // time of the newest picture encoded
    std::int64_t frames_ = 0;
    bool finished_ = false;
};

} // namespace
} // namespace quorvane::backends::ffmpeg

namespace quorvane::platform {

using namespace backends::ffmpeg;

std::unique_ptr<MovieWriter> openMovieWriter(const MovieSettings& settings) {
    backends::ffmpeg::silenceLibraryLog();
    return std::make_unique<FfmpegMovieWriter>(settings);
}

} // namespace quorvane::platform
