// The click log's timer on a real queue: ticks arrive at once and then
// repeatedly, and a dropped log is never reached.
#include "jobs/record_window/ClickLog.h"

#include "FakePointer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace quorvane::jobs::record_window {
namespace {

using testing::FakePointer;

bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST(ClickLogTimer, TicksOnItsQueueUntilFinished) {
    runtime::SerialQueue queue("test.main");
    auto pointer = std::make_shared<FakePointer>();
    auto log = std::make_shared<ClickLog>(platform::Rect{0, 0, 100, 100}, pointer);
    log->start(queue);
    ASSERT_TRUE(waitFor([&] { return pointer->reads >= 14; }));
    quorvane::testing::TempDir dir;
    ASSERT_TRUE(log->finish((dir.path / "a.mov").string()));
    const std::string text = quorvane::testing::readFile(dir.path / "a.clicks.json");
    // All samples read the same time and place: at least three of them (ticks 0, 6, 12).
    EXPECT_NE(text.find("\"pointer\":[{\"t\":0,\"x\":0,\"y\":1},{\"t\":0,\"x\":0,\"y\":1},"
                        "{\"t\":0,\"x\":0,\"y\":1}"),
              std::string::npos)
        << text;
    // No more ticks once finished (one already on its way may still run).
    queue.sync([] {});
    const int after = pointer->reads;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    queue.sync([] {});
    EXPECT_LE(pointer->reads, after + 1);
}

TEST(ClickLogTimer, DroppedLogIsNotReached) {
    runtime::SerialQueue queue("test.main");
    auto pointer = std::make_shared<FakePointer>();
    auto log = std::make_shared<ClickLog>(platform::Rect{0, 0, 100, 100}, pointer);
    log->start(queue);
    ASSERT_TRUE(waitFor([&] { return pointer->reads >= 2; }));
    log.reset();
    queue.sync([] {});
    const int after = pointer->reads;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(pointer->reads, after);
}

} // namespace
} // namespace quorvane::jobs::record_window
