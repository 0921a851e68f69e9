#include "runtime/Timer.h"
#include "runtime/QueueImpl.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

namespace quorvane::runtime {

struct Timer::State : std::enable_shared_from_this<Timer::State> {
    explicit State(asio::io_context& io) : timer(io) {}
    asio::steady_timer timer;
    std::function<void()> fire;
    std::chrono::nanoseconds interval{0};
    bool repeating = false;
    std::atomic<bool> cancelled{false};

    void arm() {
        timer.async_wait([self = shared_from_this()](const std::error_code& ec) {
            if (ec || self->cancelled) return;
            if (self->repeating) {
                // The next deadline still to come: ticks missed while the
                // queue was busy are skipped, not fired in a burst.
                auto next = self->timer.expiry() + self->interval;
                const auto now = asio::steady_timer::clock_type::now();
                if (next <= now) next += ((now - next) / self->interval + 1) * self->interval;
                self->timer.expires_at(next);
                self->arm();
            }
            self->fire();
        });
    }
};

Timer::Timer(Queue& queue) : queue_(queue) {}

Timer::~Timer() {
    cancel();
}

void Timer::once(std::chrono::nanoseconds after, std::function<void()> fire) {
    cancel();
    state_ = std::make_shared<State>(queue_.impl().io);
    state_->fire = std::move(fire);
    // Asio timers belong to their queue's thread: arm them there.
    auto deadline = std::chrono::steady_clock::now() + after;
    queue_.async([s = state_, deadline] {
        if (s->cancelled) return;
        s->timer.expires_at(deadline);
        s->arm();
    });
}

void Timer::repeat(std::chrono::nanoseconds interval, std::function<void()> fire) {
    cancel();
    state_ = std::make_shared<State>(queue_.impl().io);
    state_->fire = std::move(fire);
    state_->interval = interval;
    state_->repeating = true;
    auto deadline = std::chrono::steady_clock::now() + interval;
    queue_.async([s = state_, deadline] {
        if (s->cancelled) return;
        s->timer.expires_at(deadline);
        s->arm();
    });
}

void Timer::cancel() {
    if (!state_) return;
    state_->cancelled = true;
    queue_.async([s = state_] { s->timer.cancel(); });
    state_.reset();
}

} // namespace quorvane::runtime
