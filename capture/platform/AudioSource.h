#pragma once
// An audio file opened for analysis: its sound, decoded and converted to the
// one format speech engines take, read piece by piece.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

namespace quorvane::platform {

// A file that cannot be opened or decoded; what() is the reader's description.
class AudioError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class AudioSource {
  public:
    // What read() delivers: mono, signed 16-bit, this many samples a second.
    static constexpr int analysisRate = 16000;

    virtual ~AudioSource() = default;

    // Up to `max` samples; 0 only at the end of the sound. Throws AudioError.
    virtual std::size_t read(std::int16_t* out, std::size_t max) = 0;

    // The file's own sample rate, in frames per second.
    virtual double sampleRate() const = 0;

    // Sample frames at the file's own rate decoded so far: the file's length
    // once read() has returned 0.
    virtual std::int64_t framesRead() const = 0;

    // Where the first sample read() delivers sits on the file's own timeline,
    // in seconds: the sound track's start after the file's start, past any
    // encoder priming the file declares. Known once read() has delivered
    // samples; 0 before.
    virtual double startTime() const { return 0; }

    // The length of the sound the file announces before it is read, in
    // seconds, for telling how far reading has got; not a number when the
    // file does not say.
    virtual double announcedDuration() const { return std::numeric_limits<double>::quiet_NaN(); }
};

// Opens the sound of the file at `path` (an audio file, or a movie's sound
// track). Throws AudioError.
std::unique_ptr<AudioSource> openAudioFile(const std::string& path);

} // namespace quorvane::platform
