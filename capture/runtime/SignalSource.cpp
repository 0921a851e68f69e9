#include "runtime/SignalSource.h"
#include "runtime/QueueImpl.h"

#include <asio/signal_set.hpp>
#include <csignal>
#include <pthread.h>

namespace quorvane::runtime {
namespace {

void maskSignals(int how, std::initializer_list<int> signals) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : signals)
        sigaddset(&set, s);
    ::pthread_sigmask(how, &set, nullptr);
}

} // namespace

void blockStopSignals() {
    maskSignals(SIG_BLOCK, {SIGINT, SIGTERM, SIGHUP});
}

void unblockStopSignals() {
    maskSignals(SIG_UNBLOCK, {SIGINT, SIGTERM, SIGHUP});
}

struct SignalSource::State : std::enable_shared_from_this<SignalSource::State> {
    explicit State(asio::io_context& io) : set(io) {}
    asio::signal_set set;
    std::function<void(int)> handler;
    std::atomic<bool> cancelled{false};

    void arm() {
        set.async_wait([self = shared_from_this()](const std::error_code& ec, int signal) {
            if (ec || self->cancelled) return;
            self->arm();
            self->handler(signal);
        });
    }
};

SignalSource::SignalSource(Queue& queue, std::initializer_list<int> signals,
                           std::function<void(int)> handler)
    : state_(std::make_shared<State>(queue.impl().io)) {
    state_->handler = std::move(handler);
    // Registered here, on the caller's thread, so that no signal sent after
    // the constructor returns can end the process.
    for (int s : signals)
        state_->set.add(s);
    state_->arm();
    // Blocked since start-up (blockStopSignals); from now on they arrive
    // here, the ones sent meanwhile included.
    maskSignals(SIG_UNBLOCK, signals);
}

SignalSource::~SignalSource() {
    state_->cancelled = true;
}

} // namespace quorvane::runtime
