#pragma once
// One-shot and repeating timers that fire on a Queue. Repeating timers keep
// absolute deadlines (start + n * interval), so they do not drift; a
// deadline missed while the queue was busy is skipped, not made up for.
#include "runtime/Queue.h"

#include <chrono>
#include <functional>
#include <memory>

namespace quorvane::runtime {

class Timer {
  public:
    explicit Timer(Queue& queue);
    ~Timer(); // cancels
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Fires `fire` once, `after` from now. Replaces any earlier schedule.
    void once(std::chrono::nanoseconds after, std::function<void()> fire);
    // Fires `fire` every `interval`, the first time `interval` from now.
    void repeat(std::chrono::nanoseconds interval, std::function<void()> fire);
    // No further firing after this returns (a firing already running ends).
    void cancel();

    struct State;

  private:
    Queue& queue_;
    std::shared_ptr<State> state_;
};

} // namespace quorvane::runtime
