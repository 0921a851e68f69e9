#pragma once
// Captured pictures on their way from the capture thread to the encoding
// thread. Pictures live in a fixed set of buffers (slots); at most `depth`
// wait to be encoded. When every slot is busy the capture drops its frame
// instead of waiting, so capture never stalls behind a slow encoder.
//
// A slot is busy while anyone holds it: the capture from acquire() on, each
// queued entry until the encoder is done with it, and any further hold taken
// with retain(), which lets a source queue the same picture again (with a new
// overlay) without copying it.
#include "recording/Overlay.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quorvane::backends::recording {

struct QueuedFrame {
    int slot = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    double time = 0; // seconds on the movie's timeline
    // Drawn over the picture for this frame alone (may be empty).
    std::shared_ptr<const Overlay> overlay;
    // No picture: a still moment at `time`, where the movie repeats its last
    // picture as a key frame (MovieWriter::refresh). Holds no slot.
    bool refresh = false;
};

class FrameQueue {
  public:
    FrameQueue(int depth, int slots)
        : depth_(static_cast<std::size_t>(depth)), holds_(static_cast<std::size_t>(slots), 0) {
        for (int i = slots - 1; i >= 0; --i)
            free_.push_back(i);
    }

    // A slot to capture into (held by the caller), or nothing when all are
    // in use or (unless `evenWhenFull`) enough pictures wait already.
    std::optional<int> acquire(bool evenWhenFull = false) {
        std::lock_guard guard(lock_);
        if (free_.empty() || (!evenWhenFull && pictures_ >= depth_)) return std::nullopt;
        const int slot = free_.back();
        free_.pop_back();
        holds_[static_cast<std::size_t>(slot)] = 1;
        return slot;
    }

    // One more hold on a busy slot.
    void retain(int slot) {
        std::lock_guard guard(lock_);
        ++holds_[static_cast<std::size_t>(slot)];
    }

    // Gives up one hold; the slot is free again once nobody holds it.
    void release(int slot) {
        std::lock_guard guard(lock_);
        if (--holds_[static_cast<std::size_t>(slot)] == 0) free_.push_back(slot);
    }

    // Whether one more picture may be queued now.
    bool hasRoom() {
        std::lock_guard guard(lock_);
        return pictures_ < depth_;
    }

    // Queues a captured frame (one hold of its slot passes to the queue and
    // is released by the encoder) or a refresh.
    void push(const QueuedFrame& frame) {
        {
            std::lock_guard guard(lock_);
            waiting_.push_back(frame);
            if (!frame.refresh) ++pictures_;
        }
        ready_.notify_one();
    }

    enum class Wait { frame, timeout, closed };

    // The next frame to encode, waiting at most until `deadline`.
    Wait pop(std::chrono::steady_clock::time_point deadline, QueuedFrame& frame) {
        std::unique_lock guard(lock_);
        if (!ready_.wait_until(guard, deadline, [&] { return closed_ || !waiting_.empty(); }))
            return Wait::timeout;
        if (waiting_.empty()) return Wait::closed;
        frame = waiting_.front();
        waiting_.pop_front();
        if (!frame.refresh) --pictures_;
        return Wait::frame;
    }

    // No more frames are queued; those waiting are still handed out.
    void close() {
        {
            std::lock_guard guard(lock_);
            closed_ = true;
        }
        ready_.notify_all();
    }

  private:
    const std::size_t depth_;
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<QueuedFrame> waiting_;
    std::size_t pictures_ = 0; // refreshes in waiting_ do not count against depth_
    std::vector<int> holds_;
    std::vector<int> free_;
    bool closed_ = false;
};

} // namespace quorvane::backends::recording
