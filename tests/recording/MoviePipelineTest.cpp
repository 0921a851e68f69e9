// The pipeline between a window source and the movie, on real threads with a
// writer that only records what it is asked: a full queue drops instead of
// blocking, pictures keep to the frame grid, a still picture keeps getting
// key frames, overlays leave the picture clean, and failures are reported once.
#include "recording/MoviePipeline.h"

#include "platform/HostClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvane::backends::recording {
namespace {

struct FakeWriter final : platform::MovieWriter {
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        bool blocked = false; // writeVideo waits while set
        bool failAt3 = false;
        double keyFrameSeconds = 100;
        std::vector<double> times;
        std::vector<double> refreshes;
        std::vector<std::uint8_t> firstBytes;
        std::vector<std::uint8_t> overlaid; // the first byte as written, for overlay tests
        double lastKey = 0;
        double endTime = -1;
    };
    std::shared_ptr<Shared> s = std::make_shared<Shared>();

    void writeVideo(const platform::VideoFrame& frame, double time) override {
        std::unique_lock guard(s->lock);
        s->changed.wait(guard, [&] { return !s->blocked; });
        if (s->failAt3 && s->times.size() == 3)
            throw platform::MovieError("No space left on device");
        if (s->times.empty() || time - s->lastKey >= s->keyFrameSeconds) s->lastKey = time;
        s->times.push_back(time);
        s->firstBytes.push_back(frame.data[0][0]);
    }
    void refresh(double time) override {
        std::lock_guard guard(s->lock);
        if (time - s->lastKey < s->keyFrameSeconds - 1e-6) return;
        s->lastKey = time;
        s->refreshes.push_back(time);
    }
    double keyFrameDueAt() const override {
        std::lock_guard guard(s->lock);
        return s->times.empty() ? 0 : s->lastKey + s->keyFrameSeconds;
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

struct Rig {
    std::vector<std::vector<std::uint8_t>> slots = std::vector<std::vector<std::uint8_t>>(8);
    std::shared_ptr<FakeWriter::Shared> writer;
    std::mutex failuresLock;
    std::vector<std::string> failures;
    std::unique_ptr<MoviePipeline> pipeline;
    double start = platform::hostTimeNow();

    explicit Rig(bool blocked, int fps = 10, double keyFrameSeconds = 100, bool failAt3 = false) {
        auto w = std::make_unique<FakeWriter>();
        writer = w->s;
        writer->blocked = blocked;
        writer->failAt3 = failAt3;
        writer->keyFrameSeconds = keyFrameSeconds;
        for (auto& s : slots)
            s.assign(16, 0);
        PipelineSettings settings;
        settings.fps = fps;
        pipeline = std::make_unique<MoviePipeline>(
            std::move(w), settings,
            [this](int slot) { return slots[static_cast<std::size_t>(slot)].data(); },
            [this](const std::string& d) {
                std::lock_guard guard(failuresLock);
                failures.push_back(d);
            });
    }
    // What a capture thread does for one picture taken `at` seconds after
    // the rig's start; false when it was dropped or refused.
    bool capture(std::uint8_t marker, double at) {
        const auto slot = pipeline->acquire();
        if (!slot) return false;
        slots[static_cast<std::size_t>(*slot)][0] = marker;
        return pipeline->push(*slot, 2, 2, 8, start + at);
    }
    void unblock() {
        {
            std::lock_guard guard(writer->lock);
            writer->blocked = false;
        }
        writer->changed.notify_all();
    }
};

TEST(MoviePipeline, FullQueueDropsAndTheRestArriveInOrder) {
    Rig rig(/*blocked=*/true);
    // One frame in the encoder, six waiting: the next ones are dropped at once.
    // The encoder thread may take its frame off the queue at any point of the
    // loop, freeing one place later on: what was kept is not always 0…5.
    std::vector<int> kept;
    for (int i = 0; i < 20; ++i)
        if (rig.capture(static_cast<std::uint8_t>(i), i * 0.1)) kept.push_back(i);
    EXPECT_GE(kept.size(), 6u);
    EXPECT_LE(kept.size(), 7u);
    rig.unblock();
    rig.pipeline->finish(rig.start + 5.0);
    std::lock_guard guard(rig.writer->lock);
    ASSERT_EQ(rig.writer->times.size(), kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_NEAR(rig.writer->times[i], kept[i] * 0.1, 1e-9);
        EXPECT_EQ(rig.writer->firstBytes[i], kept[i]);
    }
    EXPECT_NEAR(rig.writer->endTime, 5.0, 1e-9);
    EXPECT_TRUE(rig.failures.empty());
}

TEST(MoviePipeline, PicturesKeepToTheFrameGridAtMostTheFrameRate) {
    for (const int fps : {10, 24}) {
        SCOPED_TRACE(fps);
        Rig rig(/*blocked=*/false, fps);
        const double interval = 1.0 / fps;
        // Taken with jitter, and some far too soon after the one before.
        const std::vector<double> taken = {0,
                                           interval * 1.1,
                                           interval * 1.3, // too soon: refused
                                           interval * 2.45,
                                           interval * 2.49, // too soon: refused
                                           interval * 3.55,
                                           interval * 7.9};
        std::vector<bool> queued;
        for (std::size_t i = 0; i < taken.size(); ++i) {
            while (!rig.pipeline->hasRoom())
                std::this_thread::yield();
            queued.push_back(rig.capture(static_cast<std::uint8_t>(i), taken[i]));
        }
        EXPECT_EQ(queued, (std::vector<bool>{true, true, false, true, false, true, true}));
        rig.pipeline->finish(rig.start + interval * 8.2);
        std::lock_guard guard(rig.writer->lock);
        const std::vector<double> expected = {0, 1, 2, 4, 8}; // grid points
        ASSERT_EQ(rig.writer->times.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_NEAR(rig.writer->times[i], expected[i] * interval, 1e-9);
        // The end lies on the grid too, one interval after the last picture at least.
        EXPECT_NEAR(rig.writer->endTime, 9 * interval, 1e-9);
        // Every slot came back, refused pictures' included.
        int free = 0;
        while (rig.pipeline->acquire(true))
            ++free;
        EXPECT_EQ(free, 8);
    }
}

TEST(MoviePipeline, AStillPictureKeepsGettingKeyFramesOnTheGrid) {
    const double keySeconds = 0.2;
    Rig rig(/*blocked=*/false, /*fps=*/20, keySeconds);
    ASSERT_TRUE(rig.capture(1, 0.0));
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    rig.pipeline->finish(platform::hostTimeNow());
    std::lock_guard guard(rig.writer->lock);
    // Nothing else came from the source, yet the movie got a key frame
    // every 0.2 s, each on the grid and in time.
    ASSERT_GE(rig.writer->refreshes.size(), 3u);
    double previous = 0;
    for (const double t : rig.writer->refreshes) {
        EXPECT_NEAR(t * 20, std::round(t * 20), 1e-6);
        EXPECT_NEAR(t - previous, keySeconds, 1e-6);
        previous = t;
    }
    EXPECT_GT(rig.writer->endTime, rig.writer->refreshes.back());
}

TEST(MoviePipeline, APictureLateForAKeyFrameGetsTheKeyFrameBeforeItOnTime) {
    Rig rig(/*blocked=*/false, /*fps=*/10, /*keyFrameSeconds=*/0.3);
    ASSERT_TRUE(rig.capture(1, 0.0));
    ASSERT_TRUE(rig.capture(2, 0.1));
    // The next picture comes 0.4 s after the key frame at 0: the one due at
    // 0.3 s is the picture shown then, not this one.
    ASSERT_TRUE(rig.capture(3, 0.5));
    rig.pipeline->finish(rig.start + 0.6);
    std::lock_guard guard(rig.writer->lock);
    ASSERT_FALSE(rig.writer->refreshes.empty());
    EXPECT_NEAR(rig.writer->refreshes.front(), 0.3, 1e-9);
    EXPECT_NEAR(rig.writer->times.back(), 0.5, 1e-9);
}

TEST(MoviePipeline, AnOverlayIsDrawnForItsFrameAloneAndTheSlotCanBeQueuedAgain) {
    struct Mark final : Overlay {
        std::uint8_t value;
        explicit Mark(std::uint8_t v) : value(v) {}
        PixelArea area(int, int) const override { return {-1, -1, 2, 2}; } // partly outside
        void draw(std::uint8_t* pixels, int, int, int) const override { pixels[0] = value; }
    };
    Rig rig(/*blocked=*/false);
    const auto slot = rig.pipeline->acquire();
    ASSERT_TRUE(slot);
    rig.slots[static_cast<std::size_t>(*slot)][0] = 7;
    // The source keeps the picture and queues it three times, with two overlays.
    rig.pipeline->retain(*slot);
    ASSERT_TRUE(rig.pipeline->push(*slot, 2, 2, 8, rig.start, std::make_shared<Mark>(50)));
    rig.pipeline->retain(*slot);
    ASSERT_TRUE(rig.pipeline->push(*slot, 2, 2, 8, rig.start + 0.1, std::make_shared<Mark>(60)));
    rig.pipeline->retain(*slot);
    ASSERT_TRUE(rig.pipeline->push(*slot, 2, 2, 8, rig.start + 0.2));
    rig.pipeline->finish(rig.start + 0.3);
    {
        std::lock_guard guard(rig.writer->lock);
        EXPECT_EQ(rig.writer->firstBytes, (std::vector<std::uint8_t>{50, 60, 7}));
    }
    EXPECT_EQ(rig.slots[static_cast<std::size_t>(*slot)][0], 7); // clean again
    // Still held by the source until it lets go.
    int free = 0;
    while (rig.pipeline->acquire(true))
        ++free;
    EXPECT_EQ(free, 7);
    rig.pipeline->release(*slot);
    EXPECT_TRUE(rig.pipeline->acquire(true));
}

TEST(MoviePipeline, WriteFailureIsReportedOnceAndTheMovieIsNotEnded) {
    Rig rig(/*blocked=*/false, 10, 100, /*failAt3=*/true);
    for (int i = 0; i < 10; ++i) {
        while (!rig.capture(static_cast<std::uint8_t>(i), i * 0.1))
            std::this_thread::yield();
    }
    rig.pipeline->finish(rig.start + 1.0);
    EXPECT_EQ(rig.failures, std::vector<std::string>{"No space left on device"});
    std::lock_guard guard(rig.writer->lock);
    EXPECT_EQ(rig.writer->times.size(), 3u);
    EXPECT_EQ(rig.writer->endTime, -1);
}

TEST(MoviePipeline, AMovieWithoutAPictureIsAFailureAndNothingIsQueuedAfterTheFinish) {
    Rig rig(/*blocked=*/false);
    rig.pipeline->finish(rig.start + 1.0);
    EXPECT_EQ(rig.failures, std::vector<std::string>{"The window sent no picture."});
    EXPECT_FALSE(rig.capture(1, 2.0));
    std::lock_guard guard(rig.writer->lock);
    EXPECT_EQ(rig.writer->endTime, -1);
    EXPECT_TRUE(rig.writer->times.empty());
}

} // namespace
} // namespace quorvane::backends::recording
