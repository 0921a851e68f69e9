#pragma once
// Turns process signals (SIGINT, SIGTERM, SIGHUP…) into orderly requests:
// while a source exists its signals no longer end the process; each delivery
// calls `handler` on the given queue.
#include "runtime/Queue.h"

#include <functional>
#include <initializer_list>
#include <memory>

namespace quorvane::runtime {

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
