// Reads the sound of any file FFmpeg can open and hands it on as 16 kHz mono
// signed 16-bit samples, a packet at a time.
#include "ffmpeg/FileUrl.h"
#include "ffmpeg/Handles.h"
#include "ffmpeg/QuietLog.h"
#include "platform/AudioSource.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace quorvane::backends::ffmpeg {
namespace {

using namespace platform;

class FileAudioSource final : public AudioSource {
  public:
    explicit FileAudioSource(const std::string& path) : path_(path) {
        AVFormatContext* raw = nullptr;
        AVDictionary* options = nullptr;
        onlyFileProtocol(&options);
        int ret = avformat_open_input(&raw, fileUrl(path).c_str(), nullptr, &options);
        av_dict_free(&options);
        if (ret < 0) fail("could not be opened", ret);
        input_.reset(raw);
        ret = avformat_find_stream_info(input_.get(), nullptr);
        if (ret < 0) fail("could not be read", ret);

        const AVCodec* codec = nullptr;
        stream_ = av_find_best_stream(input_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (stream_ == AVERROR_STREAM_NOT_FOUND)
            throw AudioError("The file " + path_ + " holds no sound.");
        if (stream_ < 0 || !codec) fail("holds sound that cannot be decoded", stream_);
        for (unsigned i = 0; i < input_->nb_streams; ++i)
            if (static_cast<int>(i) != stream_) input_->streams[i]->discard = AVDISCARD_ALL;

        const AVCodecParameters* par = input_->streams[stream_]->codecpar;
        decoder_.reset(avcodec_alloc_context3(codec));
        if (!decoder_) fail("could not be decoded", AVERROR(ENOMEM));
        ret = avcodec_parameters_to_context(decoder_.get(), par);
        // The decoder moves a frame's time past the priming it trims only
        // when it knows the packets' time base.
        decoder_->pkt_timebase = input_->streams[stream_]->time_base;
        if (ret >= 0) ret = avcodec_open2(decoder_.get(), codec, nullptr);
        if (ret < 0) fail("holds sound that cannot be decoded", ret);
        rate_ = par->sample_rate > 0 ? par->sample_rate : decoder_->sample_rate;
        if (rate_ <= 0) throw AudioError("The audio file " + path_ + " has no sample rate.");

        // QuickTime-family files state the sound's exact length (their edit
        // list); the decoder also hands out the encoder's padding after it.
        const AVStream* st = input_->streams[stream_];
        const bool quickTime = std::strstr(input_->iformat->name, "mov") != nullptr;
        if (quickTime && st->duration > 0)
            statedFrames_ = av_rescale_q(st->duration, st->time_base, AVRational{1, rate_});
        if (st->duration > 0)
            announced_ = static_cast<double>(st->duration) * av_q2d(st->time_base);
        else if (input_->duration > 0)
            announced_ = static_cast<double>(input_->duration) / AV_TIME_BASE;

        // The file's timeline begins at zero in QuickTime-family files, whose
        // edit lists may hold the sound back; elsewhere where its first stream
        // begins (a transport stream's clock starts anywhere; an MP3's first
        // packet still holds the encoder delay the decoder trims).
        if (!quickTime && input_->start_time != AV_NOPTS_VALUE)
            origin_ = static_cast<double>(input_->start_time) / AV_TIME_BASE;

        packet_.reset(av_packet_alloc());
        frame_.reset(av_frame_alloc());
        if (!packet_ || !frame_) fail("could not be decoded", AVERROR(ENOMEM));
    }

    std::size_t read(std::int16_t* out, std::size_t max) override {
        // Sound up to a bridged gap, then the gap's silence, then what follows.
        while (pendingPos_ == pending_.size() && silenceOwed_ == 0 && !ended_)
            pump();
        if (pendingPos_ == silenceAt_ && silenceOwed_ > 0) {
            const auto n = static_cast<std::size_t>(
                std::min<std::int64_t>(silenceOwed_, static_cast<std::int64_t>(max)));
            std::fill_n(out, n, 0);
            silenceOwed_ -= static_cast<std::int64_t>(n);
            return n;
        }
        const std::size_t upTo = silenceOwed_ > 0 ? silenceAt_ : pending_.size();
        const std::size_t n = std::min(max, upTo - pendingPos_);
        std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(pendingPos_), n, out);
        pendingPos_ += n;
        return n;
    }

    double sampleRate() const override { return rate_; }
    double startTime() const override { return start_; }
    double announcedDuration() const override { return announced_; }
    std::int64_t framesRead() const override {
        return statedFrames_ > 0 ? std::min(frames_, statedFrames_) : frames_;
    }

  private:
    [[noreturn]] void fail(const std::string& what, int code) const {
        throw AudioError("The audio file " + path_ + " " + what + ": " + errorText(code) + ".");
    }

    // Reads one packet (or starts draining at the end) and converts every
    // frame the decoder then gives.
    void pump() {
        if (!draining_) {
            const int ret = av_read_frame(input_.get(), packet_.get());
            if (ret == AVERROR_EOF) {
                draining_ = true;
                avcodec_send_packet(decoder_.get(), nullptr);
            } else if (ret < 0) {
                fail("could not be read", ret);
            } else {
                const bool ours = packet_->stream_index == stream_;
                // A damaged packet is skipped, as players do; the rest of the sound is still good.
                const int sent = ours ? avcodec_send_packet(decoder_.get(), packet_.get()) : 0;
                av_packet_unref(packet_.get());
                if (sent < 0 && sent != AVERROR_INVALIDDATA) fail("could not be decoded", sent);
            }
        }
        for (;;) {
            const int ret = avcodec_receive_frame(decoder_.get(), frame_.get());
            if (ret == AVERROR(EAGAIN)) return;
            if (ret == AVERROR_EOF) {
                flushResampler();
                ended_ = true;
                return;
            }
            if (ret == AVERROR_INVALIDDATA) continue;
            if (ret < 0) fail("could not be decoded", ret);
            convert(*frame_);
            av_frame_unref(frame_.get());
        }
    }

    void convert(const AVFrame& frame) {
        if (frame.nb_samples <= 0) return;
        if (frame.best_effort_timestamp != AV_NOPTS_VALUE) {
            const double at = static_cast<double>(frame.best_effort_timestamp) *
                                  av_q2d(input_->streams[stream_]->time_base) -
                              origin_;
            if (frames_ == 0)
                start_ = at;
            else
                bridgeGapBefore(at);
        }
        const int frameRate = frame.sample_rate > 0 ? frame.sample_rate : rate_;
        // Counted at the file's own rate, even should a stream change rate midway.
        frames_ +=
            frameRate == rate_ ? frame.nb_samples : av_rescale(frame.nb_samples, rate_, frameRate);
        if (!resampler_ || frame.format != inFormat_ || frameRate != inRate_ ||
            av_channel_layout_compare(&frame.ch_layout, &inLayout_) != 0)
            openResampler(frame, frameRate);
        const int room = swr_get_out_samples(resampler_.get(), frame.nb_samples);
        if (room < 0) fail("could not be converted", room);
        std::uint8_t* out = grow(room);
        const int got =
            swr_convert(resampler_.get(), &out, room,
                        const_cast<const std::uint8_t**>(frame.extended_data), frame.nb_samples);
        if (got < 0) fail("could not be converted", got);
        pending_.resize(pending_.size() - static_cast<std::size_t>(room - got));
    }

    // Where the file's timestamps place a frame later than the sound read so
    // far reaches (a dropout in a recording, a cut in a stream), the missing
    // time is handed on as silence: every later word then keeps its place on
    // the file's timeline. Timestamps that jitter by less than the tolerance,
    // or that go back, are left alone: no sound is dropped.
    void bridgeGapBefore(double at) {
        const double reached = start_ + static_cast<double>(frames_) / rate_;
        const double gap = at - reached;
        if (!(gap > gapTolerance) || silenceOwed_ > 0) return;
        flushResampler(); // what it holds comes before the gap
        // Owed, not stored: a gap of hours costs no memory.
        silenceAt_ = pending_.size();
        silenceOwed_ = std::llround(gap * analysisRate);
        frames_ += std::llround(gap * rate_);
    }

    void openResampler(const AVFrame& frame, int frameRate) {
        flushResampler();
        av_channel_layout_uninit(&inLayout_);
        if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame.ch_layout.nb_channels == 0) {
            const int channels = frame.ch_layout.nb_channels > 0 ? frame.ch_layout.nb_channels : 1;
            av_channel_layout_default(&inLayout_, channels);
        } else {
            av_channel_layout_copy(&inLayout_, &frame.ch_layout);
        }
        inFormat_ = frame.format;
        inRate_ = frameRate;
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        SwrContext* raw = nullptr;
        int ret =
            swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, analysisRate, &inLayout_,
                                static_cast<AVSampleFormat>(frame.format), frameRate, 0, nullptr);
        resampler_.reset(raw);
        if (ret >= 0) ret = swr_init(resampler_.get());
        if (ret < 0) fail("could not be converted", ret);
        // The layout compared against later frames is the frame's own.
        if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_uninit(&inLayout_);
            av_channel_layout_copy(&inLayout_, &frame.ch_layout);
        }
    }

    void flushResampler() {
        if (!resampler_) return;
        for (;;) {
            const int room = 4096;
            std::uint8_t* out = grow(room);
            const int got = swr_convert(resampler_.get(), &out, room, nullptr, 0);
            pending_.resize(pending_.size() - static_cast<std::size_t>(room - std::max(got, 0)));
            if (got <= 0) break;
        }
        resampler_.reset();
    }

    // Room for `samples` more at the end of pending_, dropping what was read.
    std::uint8_t* grow(int samples) {
        if (pendingPos_ > 0) {
            pending_.erase(pending_.begin(),
                           pending_.begin() + static_cast<std::ptrdiff_t>(pendingPos_));
            silenceAt_ -= std::min(silenceAt_, pendingPos_);
            pendingPos_ = 0;
        }
        const std::size_t old = pending_.size();
        pending_.resize(old + static_cast<std::size_t>(samples));
        return reinterpret_cast<std::uint8_t*>(pending_.data() + old);
    }

    // Larger than the rounding of any container's timestamps, smaller than a
    // gap worth keeping words apart for.
    static constexpr double gapTolerance = 0.05;

    std::string path_;
    InputFormat input_;
    CodecContext decoder_;
    Packet packet_;
    Frame frame_;
    Swr resampler_;
    int stream_ = -1;
    int rate_ = 0;
    int inFormat_ = -1;
    int inRate_ = 0;
    AVChannelLayout inLayout_{};
    std::int64_t frames_ = 0;
    std::int64_t statedFrames_ = 0; // the container's own count, when it is exact
    double origin_ = 0;             // the file's start, seconds in stream time
    double start_ = 0;              // the first delivered sample on the file's timeline
    double announced_ = std::numeric_limits<double>::quiet_NaN();
    std::vector<std::int16_t> pending_;
    std::size_t pendingPos_ = 0;
    std::size_t silenceAt_ = 0;    // where in pending_ a bridged gap's silence goes
    std::int64_t silenceOwed_ = 0; // samples of that silence still to hand on
    bool draining_ = false;
    bool ended_ = false;

  public:
    ~FileAudioSource() override { av_channel_layout_uninit(&inLayout_); }
};

} // namespace
} // namespace quorvane::backends::ffmpeg

namespace quorvane::platform {

using namespace backends::ffmpeg;

std::unique_ptr<AudioSource> openAudioFile(const std::string& path) {
    backends::ffmpeg::silenceLibraryLog();
    return std::make_unique<FileAudioSource>(path);
}

} // namespace quorvane::platform
