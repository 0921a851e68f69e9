#pragma once
// Turns process signals (SIGINT, SIGTERM, SIGHUP…) into orderly requests:
// while a source exists its signals no longer end the process; each delivery
// calls `handler` on the given queue. Creating a source unblocks its signals
// on the calling thread, so one sent while they were blocked arrives then.
#include "runtime/Queue.h"

#include <functional>
#include <initializer_list>
#include <memory>

namespace quorvane::runtime {

// SIGINT, SIGTERM and SIGHUP: the signals that ask a job to stop. `main`
// blocks them before a job module loads, so that none can end the process
// unheard; a job that takes them gets the pending ones through its
// SignalSource, every other job unblocks them and ends at once on them.
void blockStopSignals();
void unblockStopSignals();

class SignalSource {
  public:
    SignalSource(Queue& queue, std::initializer_list<int> signals,
                 std::function<void(int signal)> handler);
    ~SignalSource();
    SignalSource(const SignalSource&) = delete;
    SignalSource& operator=(const SignalSource&) = delete;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

} // namespace quorvane::runtime
