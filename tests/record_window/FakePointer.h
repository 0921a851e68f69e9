#pragma once
// A pointer and host clock the tests move by hand.
#include "platform/Pointer.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace quorvane::jobs::record_window::testing {

class FakePointer final : public platform::PointerSource {
  public:
    void set(double time, double x, double y, bool down) {
        std::lock_guard guard(lock_);
        time_ = time;
        location_ = {x, y};
        buttons_ = down ? 1u : 0u;
    }
    void setTime(double time) {
        std::lock_guard guard(lock_);
        time_ = time;
    }
    // Presses the next tick hears of, as raw button events report them.
    void press(int count = 1) {
        std::lock_guard guard(lock_);
        presses_ += count;
    }
    void setDown(bool down) {
        std::lock_guard guard(lock_);
        buttons_ = down ? 1u : 0u;
    }

    double now() override {
        ++reads;
        std::lock_guard guard(lock_);
        return time_;
    }
    platform::Point mouseLocation() override {
        std::lock_guard guard(lock_);
        return location_;
    }
    unsigned pressedMouseButtons() override {
        std::lock_guard guard(lock_);
        return buttons_;
    }
    int primaryPresses() override {
        std::lock_guard guard(lock_);
        return std::exchange(presses_, 0);
    }
    double mainDisplayHeight() override { return displayHeight; }

    double displayHeight = 1000;
    std::atomic<int> reads{0}; // how many ticks have read the clock

  private:
    std::mutex lock_;
    double time_ = 0;
    platform::Point location_;
    unsigned buttons_ = 0;
    int presses_ = 0;
};

} // namespace quorvane::jobs::record_window::testing
