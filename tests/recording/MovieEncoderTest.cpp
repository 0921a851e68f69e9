// The capture-to-encoder hand-over: a full queue drops instead of blocking,
// frames reach the movie in order, the end comes after the last frame, and a
// write failure is reported once.
#include "recording/MovieEncoder.h"
#include "recording/FrameQueue.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace quorvane::backends::recording {
namespace {

struct FakeWriter final : platform::MovieWriter {
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        bool blocked = false; // writeVideo waits while set
        bool failAt3 = false;
        std::vector<double> times;
        std::vector<double> refreshes;
        std::vector<std::uint8_t> firstBytes;
        double endTime = -1;
    };
    std::shared_ptr<Shared> s = std::make_shared<Shared>();

    void writeVideo(const platform::VideoFrame& frame, double time) override {
        std::unique_lock guard(s->lock);
        s->changed.wait(guard, [&] { return !s->blocked; });
        if (s->failAt3 && s->times.size() == 3)
            throw platform::MovieError("No space left on device");
        s->times.push_back(time);
        s->firstBytes.push_back(frame.data[0][0]);
    }
    void refresh(double time) override {
        std::lock_guard guard(s->lock);
        s->refreshes.push_back(time);
    }
    void writeAudio(const std::int16_t*, int, double) override {}
    void finish(double endTime) override {
        std::lock_guard guard(s->lock);
        s->endTime = endTime;
    }
    std::int64_t framesWritten() const override {
        std::lock_guard guard(s->lock);
        return static_cast<std::int64_t>(s->times.size());
    }
};

struct Pipeline {
    FrameQueue queue{6, 8};
    std::vector<std::vector<std::uint8_t>> slots = std::vector<std::vector<std::uint8_t>>(8);
    std::shared_ptr<FakeWriter::Shared> writer;
    std::vector<std::string> failures;
    std::unique_ptr<MovieEncoder> encoder;

    explicit Pipeline(bool blocked, bool failAt3 = false) {
        auto w = std::make_unique<FakeWriter>();
        writer = w->s;
        writer->blocked = blocked;
        writer->failAt3 = failAt3;
        for (auto& s : slots)
            s.assign(16, 0);
        encoder = std::make_unique<MovieEncoder>(
            std::move(w), queue,
            [this](int slot) { return slots[static_cast<std::size_t>(slot)].data(); },
            [this](const std::string& d) { failures.push_back(d); });
    }
    // What the capture thread does for one picture; false when it was dropped.
    bool capture(std::uint8_t marker, double time) {
        const auto slot = queue.acquire();
        if (!slot) return false;
        slots[static_cast<std::size_t>(*slot)][0] = marker;
        queue.push(QueuedFrame{*slot, 2, 2, 8, time});
        return true;
    }
    void unblock() {
        {
            std::lock_guard guard(writer->lock);
            writer->blocked = false;
        }
        writer->changed.notify_all();
    }
};

TEST(MovieEncoder, FullQueueDropsAndTheRestArriveInOrder) {
    Pipeline p(/*blocked=*/true);
    // One frame in the encoder, six waiting: the next ones are dropped at once.
    // The encoder thread may take its frame off the queue at any point of the
    // loop, freeing one place later on: what was kept is not always 0…5.
    std::vector<int> kept;
    for (int i = 0; i < 20; ++i)
        if (p.capture(static_cast<std::uint8_t>(i), i * 0.1)) kept.push_back(i);
    EXPECT_GE(kept.size(), 6u);
    EXPECT_LE(kept.size(), 7u);
    p.unblock();
    p.encoder->finish(5.0);
    std::lock_guard guard(p.writer->lock);
    ASSERT_EQ(p.writer->times.size(), kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_DOUBLE_EQ(p.writer->times[i], kept[i] * 0.1);
        EXPECT_EQ(p.writer->firstBytes[i], kept[i]);
    }
    EXPECT_EQ(p.writer->endTime, 5.0);
    EXPECT_TRUE(p.failures.empty());
}

TEST(MovieEncoder, SlotsComeBackAfterEncoding) {
    Pipeline p(/*blocked=*/false);
    for (int i = 0; i < 200; ++i) {
        while (!p.capture(static_cast<std::uint8_t>(i), i * 0.01))
            std::this_thread::yield();
    }
    p.encoder->finish(2.5);
    std::lock_guard guard(p.writer->lock);
    EXPECT_EQ(p.writer->times.size(), 200u);
    EXPECT_EQ(p.writer->endTime, 2.5);
}

TEST(MovieEncoder, WriteFailureIsReportedOnceAndTheMovieIsNotEnded) {
    Pipeline p(/*blocked=*/false, /*failAt3=*/true);
    for (int i = 0; i < 10; ++i) {
        while (!p.capture(static_cast<std::uint8_t>(i), i * 0.1))
            std::this_thread::yield();
    }
    p.encoder->finish(1.0);
    EXPECT_EQ(p.failures, std::vector<std::string>{"No space left on device"});
    std::lock_guard guard(p.writer->lock);
    EXPECT_EQ(p.writer->times.size(), 3u);
    EXPECT_EQ(p.writer->endTime, -1);
}

TEST(MovieEncoder, RefreshesReachTheWriterInOrderAndHoldNoSlot) {
    Pipeline p(/*blocked=*/false);
    ASSERT_TRUE(p.capture(1, 0.0));
    // Far more refreshes than slots: none takes one.
    for (int i = 1; i <= 20; ++i) {
        QueuedFrame still;
        still.refresh = true;
        still.time = i * 0.1;
        p.queue.push(still);
    }
    ASSERT_TRUE(p.capture(2, 2.5));
    p.encoder->finish(3.0);
    std::lock_guard guard(p.writer->lock);
    EXPECT_EQ(p.writer->times, (std::vector<double>{0.0, 2.5}));
    ASSERT_EQ(p.writer->refreshes.size(), 20u);
    EXPECT_DOUBLE_EQ(p.writer->refreshes.back(), 2.0);
    EXPECT_EQ(p.writer->endTime, 3.0);
}

TEST(MovieEncoder, AMovieWithoutAPictureIsAFailure) {
    Pipeline p(/*blocked=*/false);
    p.encoder->finish(1.0);
    EXPECT_EQ(p.failures, std::vector<std::string>{"The window sent no picture."});
    std::lock_guard guard(p.writer->lock);
    EXPECT_EQ(p.writer->endTime, -1);
}

} // namespace
} // namespace quorvane::backends::recording
