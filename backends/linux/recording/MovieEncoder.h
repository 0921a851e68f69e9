#pragma once
// The encoding thread of a window recording: takes captured frames from the
// queue, writes them to the movie, and ends the movie when asked.
#include "platform/MovieWriter.h"
#include "recording/FrameQueue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace quorvane::backends::recording {

class MovieEncoder {
  public:
    using Pixels = std::function<const std::uint8_t*(int slot)>;
    using Failure = std::function<void(const std::string& description)>;

    // Starts the thread. `onFailure` is called (once, on the encoding or the
    // finishing thread) when a frame or the end cannot be written.
    MovieEncoder(std::unique_ptr<platform::MovieWriter> writer, FrameQueue& queue, Pixels pixels,
                 Failure onFailure);
    ~MovieEncoder();
    MovieEncoder(const MovieEncoder&) = delete;
    MovieEncoder& operator=(const MovieEncoder&) = delete;

    // Writes what is queued, then ends the movie at `endTime` (movie
    // timeline). Only the first call does anything.
    void finish(double endTime);

  private:
    void run();

    std::unique_ptr<platform::MovieWriter> writer_;
    FrameQueue& queue_;
    Pixels pixels_;
    Failure onFailure_;
    std::atomic<bool> failed_{false};
    bool finished_ = false;
    std::thread thread_;
};

} // namespace quorvane::backends::recording
