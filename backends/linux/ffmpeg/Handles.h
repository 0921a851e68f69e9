#pragma once
// RAII owners for FFmpeg objects, shared by every FFmpeg user: each frees its
// object with the library's own release call.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace quorvane::backends::ffmpeg {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct SwrFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct AudioFifoFree {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
// An input opened with avformat_open_input.
struct InputClose {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
// An output made with avformat_alloc_output_context2 (its avio closed separately).
struct OutputFree {
    void operator()(AVFormatContext* f) const {
        if (f->pb && !(f->oformat->flags & AVFMT_NOFILE)) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};

using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;
using Sws = std::unique_ptr<SwsContext, SwsFree>;
using Swr = std::unique_ptr<SwrContext, SwrFree>;
using AudioFifo = std::unique_ptr<AVAudioFifo, AudioFifoFree>;
using InputFormat = std::unique_ptr<AVFormatContext, InputClose>;
using OutputFormat = std::unique_ptr<AVFormatContext, OutputFree>;

// What an error code tells the user, as the end of a sentence (no full
// stop). The system's own errors keep their description ("No space left on
// device"); FFmpeg's own codes are told in the product's words, since
// FFmpeg's wording ("Not yet implemented in FFmpeg, patches welcome",
// "Invalid data found when processing input") speaks to developers.
inline std::string errorText(int code) {
    switch (code) {
    case AVERROR_INVALIDDATA:
        return "The file is damaged or of a kind Quorvane cannot read";
    case AVERROR_PATCHWELCOME:
    case AVERROR_EXPERIMENTAL:
        return "The file uses a feature Quorvane cannot read";
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR_STREAM_NOT_FOUND:
    case AVERROR_PROTOCOL_NOT_FOUND:
    case AVERROR_BSF_NOT_FOUND:
        return "The file is of a kind Quorvane cannot read";
    case AVERROR_ENCODER_NOT_FOUND:
    case AVERROR_MUXER_NOT_FOUND:
        return "Quorvane cannot make movies of this kind on this computer";
    case AVERROR_EOF:
        return "The file ends too soon";
    case AVERROR_BUG:
    case AVERROR_BUG2:
    case AVERROR_BUFFER_TOO_SMALL:
    case AVERROR_EXIT:
    case AVERROR_EXTERNAL:
    case AVERROR_FILTER_NOT_FOUND:
    case AVERROR_INPUT_CHANGED:
    case AVERROR_OPTION_NOT_FOUND:
    case AVERROR_OUTPUT_CHANGED:
    case AVERROR_UNKNOWN:
        return "Something went wrong inside Quorvane";
    default:
        break;
    }
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

} // namespace quorvane::backends::ffmpeg
