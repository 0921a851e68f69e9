#pragma once
// Captured pictures on their way from the capture thread to the encoding
// thread. Pictures live in a fixed set of buffers (slots); at most `depth`
// wait to be encoded. When every slot is busy the capture drops its frame
// instead of waiting, so capture never stalls behind a slow encoder.
#include <condition_variable>
#include <deque>
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
    // No picture: a still moment at `time`, where the movie may repeat its
    // last picture (MovieWriter::refresh). Holds no slot.
    bool refresh = false;
};

class FrameQueue {
  public:
    FrameQueue(int depth, int slots) : depth_(static_cast<std::size_t>(depth)) {
        for (int i = slots - 1; i >= 0; --i)
            free_.push_back(i);
    }

    // A slot to capture into, or nothing when all are in use.
    std::optional<int> acquire() {
        std::lock_guard guard(lock_);
        if (free_.empty() || pictures_ >= depth_) return std::nullopt;
        const int slot = free_.back();
        free_.pop_back();
        return slot;
    }

    void release(int slot) {
        std::lock_guard guard(lock_);
        free_.push_back(slot);
    }

    // Queues a captured frame (its slot stays busy until the encoder releases
    // it) or a refresh.
    void push(const QueuedFrame& frame) {
        {
            std::lock_guard guard(lock_);
            waiting_.push_back(frame);
            if (!frame.refresh) ++pictures_;
        }
        ready_.notify_one();
    }

    // The next frame to encode; nothing once closed and drained.
    std::optional<QueuedFrame> pop() {
        std::unique_lock guard(lock_);
        ready_.wait(guard, [&] { return closed_ || !waiting_.empty(); });
        if (waiting_.empty()) return std::nullopt;
        const QueuedFrame frame = waiting_.front();
        waiting_.pop_front();
        if (!frame.refresh) --pictures_;
        return frame;
    }

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
    std::vector<int> free_;
    bool closed_ = false;
};

} // namespace quorvane::backends::recording
