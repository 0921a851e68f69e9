#pragma once
// Writes one H.264 (+ optional AAC) QuickTime movie as a fragmented file, so
// that a process killed mid-recording still leaves a playable movie.
// Calls on one writer are not thread-safe: drive it from one thread.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace quorvane::platform {

// A write or encode failure; what() is the library's description of it.
class MovieError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct VideoSettings {
    int width = 0;                   // even
    int height = 0;                  // even
    std::int64_t bitRate = 0;        // bits per second; 0 = constant quality
    double keyFrameSeconds = 1.0;    // a key frame (and a fragment) at least this often
    double expectedFps = 30.0;       // rate-control hint for variable frame rate input
    std::string preset = "veryfast"; // x264 preset
    bool zeroLatency = true;         // x264 tune=zerolatency (no frame delay)
};

struct AudioSettings {
    int sampleRate = 48000;
    int channels = 1;
    std::int64_t bitRate = 128000;
};

struct MovieSettings {
    std::string path;
    VideoSettings video;
    std::optional<AudioSettings> audio; // AAC track when set
};

enum class PixelFormat { BGRA, RGBA, YUV420P };

// One picture in memory. BGRA/RGBA: one plane, `stride[0]` bytes per row.
// YUV420P: three planes.
struct VideoFrame {
    PixelFormat format = PixelFormat::BGRA;
    int width = 0;
    int height = 0;
    const std::uint8_t* data[3] = {nullptr, nullptr, nullptr};
    int stride[3] = {0, 0, 0};
};

class MovieWriter {
  public:
    virtual ~MovieWriter() = default;

    // Encodes `frame` shown from `time` seconds, on the movie's timeline (the
    // first frame is usually 0). A frame of another size is scaled to fit
    // with its aspect kept and centred on black (one at most one pixel
    // smaller each way is padded, not scaled). Times must increase; a frame
    // not later than the previous one is dropped.
    virtual void writeVideo(const VideoFrame& frame, double time) = 0;

    // When a key frame is due at `time` (the newest is keyFrameSeconds old),
    // shows the last picture again there as one, so that a still picture
    // keeps making fragments; otherwise, or before any picture, does nothing.
    virtual void refresh(double /*time*/) {}

    // The movie time from which refresh() writes a key frame: keyFrameSeconds
    // after the newest one (0 before any picture).
    virtual double keyFrameDueAt() const { return 0; }

    // Appends interleaved signed 16-bit samples (settings' channel count) whose
    // first sample plays at `time` seconds. Without an audio track: ignored.
    virtual void writeAudio(const std::int16_t* samples, int frames, double time) = 0;

    // Ends the movie: the last picture lasts until `endTime` (shown once more
    // just before it when it stood still for more than two frame intervals),
    // everything is flushed and the file closed. Nothing may be written after it.
    virtual void finish(double endTime) = 0;

    // Number of video frames encoded so far.
    virtual std::int64_t framesWritten() const = 0;
};

// Creates the file and its encoders. Throws MovieError.
std::unique_ptr<MovieWriter> openMovieWriter(const MovieSettings& settings);

} // namespace quorvane::platform
