#include "runtime/Queue.h"
#include "runtime/SignalSource.h"
#include "runtime/Timer.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

using namespace quorvane::runtime;
using namespace std::chrono_literals;

TEST(SerialQueue, RunsWorkInOrderOnItsOwnThread) {
    std::vector<int> order;
    std::thread::id worker;
    {
        SerialQueue queue("quorvane.test");
        EXPECT_EQ(queue.label(), "quorvane.test");
        EXPECT_FALSE(queue.isCurrent());
        for (int i = 0; i < 100; ++i)
            queue.async([&, i] {
                order.push_back(i);
                worker = std::this_thread::get_id();
            });
        bool inside = false;
        queue.sync([&] { inside = queue.isCurrent(); });
        EXPECT_TRUE(inside);
        queue.async(
            [&] { queue.sync([&] { order.push_back(100); }); }); // sync from itself runs inline
    } // the destructor finishes what was queued
    ASSERT_EQ(order.size(), 101u);
    for (int i = 0; i <= 100; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_NE(worker, std::this_thread::get_id());
}

TEST(SerialQueue, SyncPassesExceptionsBack) {
    SerialQueue queue("quorvane.test");
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("no"); }), std::runtime_error);
}

TEST(Timer, OnceFiresOnceAndCancelStopsIt) {
    SerialQueue queue("quorvane.timers");
    std::promise<bool> fired;
    std::atomic<int> count{0};
    Timer once(queue);
    const auto start = std::chrono::steady_clock::now();
    once.once(20ms, [&] {
        fired.set_value(queue.isCurrent());
        ++count;
    });
    EXPECT_TRUE(fired.get_future().get());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);

    std::atomic<bool> cancelledFired{false};
    Timer cancelled(queue);
    cancelled.once(50ms, [&] { cancelledFired = true; });
    cancelled.cancel();
    std::this_thread::sleep_for(150ms);
    queue.sync([] {});
    EXPECT_FALSE(cancelledFired);
    EXPECT_EQ(count, 1);
}

TEST(Timer, RepeatKeepsAbsoluteDeadlines) {
    SerialQueue queue("quorvane.timers");
    std::vector<std::chrono::steady_clock::time_point> ticks;
    std::promise<void> done;
    Timer timer(queue);
    const auto start = std::chrono::steady_clock::now();
    timer.repeat(10ms, [&] {
        ticks.push_back(std::chrono::steady_clock::now());
        if (ticks.size() == 20) {
            timer.cancel();
            done.set_value();
        }
        if (ticks.size() == 3) std::this_thread::sleep_for(25ms);
    });
    done.get_future().wait();
    ASSERT_EQ(ticks.size(), 20u);
    // Never early, also right after the late tick: deadlines are start + n * interval.
    for (std::size_t i = 0; i < ticks.size(); ++i)
        EXPECT_GE(ticks[i] - start, 10ms * (i + 1));
}

TEST(Timer, RepeatSkipsDeadlinesMissedWhileBusyInsteadOfFiringThemInABurst) {
    SerialQueue queue("quorvane.timers");
    std::vector<std::chrono::steady_clock::time_point> ticks;
    std::chrono::steady_clock::time_point stallEnded;
    std::promise<void> done;
    Timer timer(queue);
    timer.repeat(10ms, [&] {
        ticks.push_back(std::chrono::steady_clock::now());
        if (ticks.size() == 3) {
            std::this_thread::sleep_for(100ms); // ten deadlines pass meanwhile
            stallEnded = std::chrono::steady_clock::now();
        }
        if (ticks.size() == 20) {
            timer.cancel();
            done.set_value();
        }
    });
    done.get_future().wait();
    // Right after the stall: the one deadline armed before it, then only
    // those that really lie there (two or three in 25 ms), not the ten that
    // were missed.
    int soon = 0;
    for (const auto& t : ticks)
        if (t >= stallEnded && t - stallEnded <= 25ms) ++soon;
    EXPECT_LE(soon, 4);
}

TEST(SignalSource, TurnsSignalsIntoCallsOnTheQueue) {
    SerialQueue queue("quorvane.signals");
    std::mutex m;
    std::vector<int> seen;
    std::promise<void> two;
    SignalSource source(queue, {SIGHUP, SIGUSR1}, [&](int s) {
        std::lock_guard lock(m);
        seen.push_back(s);
        if (seen.size() == 2) two.set_value();
    });
    std::raise(SIGHUP); // would end the process without the source
    std::raise(SIGUSR1);
    two.get_future().wait();
    std::lock_guard lock(m);
    EXPECT_EQ(seen.size(), 2u);
}
