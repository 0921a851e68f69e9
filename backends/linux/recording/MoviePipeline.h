#pragma once
// Everything between a window source's pictures and the movie: the slots the
// source captures into, the pacing (pictures on a grid of one frame interval,
// at most the frame rate), the encoding thread, the repeat of a still picture
// as a key frame (a key frame and a fragment on disk at least every 0.75 s),
// and the finish. A source only produces pictures (and their pointer) into
// it, from one capture thread.
#include "platform/MovieWriter.h"
#include "recording/FrameQueue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace quorvane::backends::recording {

struct PipelineSettings {
    int fps = 30;  // pictures a second at most
    int depth = 6; // pictures waiting to be encoded at most
    int slots = 8; // buffers to capture into (more than depth: one is being encoded)
};

// A key frame (and with it a fragment on disk) at least this often, still
// pictures included: a killed recorder loses under a second.
constexpr double kKeyFrameSeconds = 0.75;

// The settings every window movie is written with at `fps`: key frames on
// the frame grid no more than kKeyFrameSeconds apart.
platform::MovieSettings windowMovieSettings(const std::string& path, int width, int height,
                                            int fps);

class MoviePipeline {
  public:
    using Pixels = std::function<std::uint8_t*(int slot)>;
    using Failure = std::function<void(const std::string& description)>;

    // Starts the encoding thread. `pixels` gives a slot's memory (the source
    // owns it); `onFailure` is called once, on the encoding or the finishing
    // thread, when the movie cannot be written.
    MoviePipeline(std::unique_ptr<platform::MovieWriter> writer, const PipelineSettings& settings,
                  Pixels pixels, Failure onFailure);
    ~MoviePipeline();
    MoviePipeline(const MoviePipeline&) = delete;
    MoviePipeline& operator=(const MoviePipeline&) = delete;

    // A slot to capture into, or nothing when the encoder is behind (or,
    // with `evenWhenFull`, only when every slot is held).
    std::optional<int> acquire(bool evenWhenFull = false) { return queue_.acquire(evenWhenFull); }
    void retain(int slot) { queue_.retain(slot); }
    void release(int slot) { queue_.release(slot); }
    // Whether a picture could be queued now (a slot free, room in the queue).
    bool hasRoom() { return queue_.hasRoom(); }

    // The host time from which the next picture may be queued: pictures stay
    // at least one frame interval apart. Before the first picture, 0.
    double nextPictureTime() const;

    // Queues the picture in `slot` (the caller's hold passes to the queue),
    // taken at host time `taken`, with `overlay` drawn over it. False, and
    // the slot released, when it comes before nextPictureTime() or after the
    // finish. The first picture starts the movie's timeline.
    bool push(int slot, int width, int height, int stride, double taken,
              std::shared_ptr<const Overlay> overlay = {});

    // The host time of the first picture queued.
    std::optional<double> firstPicture() const;

    // Writes what is queued and ends the movie at host time `stoppedAt`.
    // Only the first call does anything; later pushes are refused.
    void finish(double stoppedAt);

  private:
    void run();
    void write(const QueuedFrame& frame);
    // Queues the still picture's key frame when one is due; returns when to
    // look again.
    std::chrono::steady_clock::time_point stillMoment();
    // When to look, if nothing comes, whether a key frame is due.
    std::chrono::steady_clock::time_point keyFrameDeadline();
    void fail(const std::string& description);
    // The grid index for `seconds` on the timeline, at least one after the last.
    std::int64_t nextIndex(double seconds) const;

    std::unique_ptr<platform::MovieWriter> writer_;
    const PipelineSettings settings_;
    Pixels pixels_;
    Failure onFailure_;
    FrameQueue queue_;
    std::atomic<bool> failed_{false};

    // The timeline, shared by the capture thread and the encoding thread:
    // entries are queued in the order of their grid index.
    mutable std::mutex timeline_;
    std::optional<double> first_; // host time of the first picture
    std::int64_t lastIndex_ = -1; // grid index of the newest entry queued
    bool closed_ = false;

    std::mutex finishLock_;
    bool finished_ = false;
    std::thread thread_;
};

} // namespace quorvane::backends::recording
