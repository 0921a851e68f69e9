// The recording engine against a fake capture service: the pixel size rule,
// the stream configuration, the first complete frame as the click log's time
// base, and the stopped event.
#include "jobs/record_window/WindowRecording.h"

#include "FakePointer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace quorvane::jobs::record_window {
namespace {

using testing::FakePointer;

struct FakeStream final : platform::WindowStream {
    platform::StreamOutput* output = nullptr;
    runtime::Queue* queue = nullptr;
    std::string outputPath;
    bool failStart = false;
    bool started = false;

    void addStreamOutput(platform::StreamOutput& o, runtime::Queue& q) override {
        output = &o;
        queue = &q;
    }
    void addRecordingOutput(const platform::RecordingOutputConfiguration& c,
                            platform::RecordingOutputDelegate&) override {
        outputPath = c.outputPath;
    }
    void startCapture() override {
        if (failStart) throw platform::ScreenCaptureError("The window went away.");
        started = true;
    }
    void stopCapture() override {}

    // Delivers one frame the way the platform does: on the output's queue.
    void deliver(platform::FrameStatus status, double time) {
        queue->sync([&] { output->streamDidOutputFrame({status, time}); });
    }
};

struct FakeService final : platform::WindowCaptureService {
    platform::Rect content{0, 0, 1001, 601};
    float scale = 1;
    std::shared_ptr<FakePointer> pointer = std::make_shared<FakePointer>();
    platform::StreamConfiguration configuration;
    FakeStream* stream = nullptr;
    bool failStart = false;

    platform::ContentFilter makeFilter(const platform::Window& w) override {
        return {w, content, scale};
    }
    std::unique_ptr<platform::WindowStream> makeStream(const platform::ContentFilter&,
                                                       const platform::StreamConfiguration& c,
                                                       platform::StreamDelegate&) override {
        configuration = c;
        auto s = std::make_unique<FakeStream>();
        s->failStart = failStart;
        stream = s.get();
        return s;
    }
    std::unique_ptr<platform::PointerSource> makePointerSource() override {
        struct Shared final : platform::PointerSource {
            std::shared_ptr<FakePointer> p;
            double now() override { return p->now(); }
            platform::Point mouseLocation() override { return p->mouseLocation(); }
            unsigned pressedMouseButtons() override { return p->pressedMouseButtons(); }
            double mainDisplayHeight() override { return p->mainDisplayHeight(); }
        };
        auto s = std::make_unique<Shared>();
        s->p = pointer;
        return s;
    }
};

std::string text(const json::Object& o, const std::string& key) {
    const auto* s = std::get_if<std::string>(&o.at(key).storage());
    return s ? *s : "";
}

TEST(PixelSize, EvenAndAtLeastTwo) {
    struct Case {
        double points, scale;
        int pixels;
    };
    const Case cases[] = {{1001, 1, 1002},
                          {601, 1, 602},
                          {1280, 2, 2560},
                          {800, 2, 1600},
                          {0.4, 1, 2},
                          {0, 1, 2},
                          {2.9, 1, 2},
                          {3, 1, 4},
                          {1000.5, 1, 1000},
                          {-5, 1, 2},
                          {std::numeric_limits<double>::quiet_NaN(), 1, 2}};
    for (const auto& c : cases)
        EXPECT_EQ(pixelDimension(c.points, c.scale), c.pixels) << c.points << " x" << c.scale;
}

class Recording : public ::testing::Test {
  protected:
    FakeService service;
    runtime::SerialQueue clickQueue{"test.main"};
    quorvane::testing::TempDir dir;
    std::string movie = (dir.path / "rec.mov").string();
    platform::Window window{
        42, {100, 50, 1001, 601}, 0, "Title", platform::OwningApplication{"App"}};
};

TEST_F(Recording, StartsWithTheConfiguredStream) {
    WindowRecording recording(movie, service, clickQueue);
    EXPECT_FALSE(recording.stream());
    const PixelSize size = recording.start(window, 24, false);
    EXPECT_EQ(size.width, 1002);
    EXPECT_EQ(size.height, 602);
    EXPECT_EQ(service.configuration.width, 1002);
    EXPECT_EQ(service.configuration.height, 602);
    EXPECT_EQ(service.configuration.frameIntervalValue, 1);
    EXPECT_EQ(service.configuration.frameIntervalScale, 24);
    EXPECT_FALSE(service.configuration.showsCursor);
    EXPECT_FALSE(service.configuration.capturesAudio);
    EXPECT_EQ(service.configuration.queueDepth, 6);
    EXPECT_EQ(service.stream->outputPath, movie);
    EXPECT_EQ(service.stream->queue->label(), "quorvane.frames");
    EXPECT_TRUE(service.stream->started);
    EXPECT_EQ(recording.stream().get(), service.stream);
}

TEST_F(Recording, FirstCompleteFrameIsTheClickLogsTimeBase) {
    WindowRecording recording(movie, service, clickQueue);
    service.pointer->set(9, 0, 0, false);
    recording.start(window, 30, true);
    auto* stream = service.stream;
    stream->deliver(platform::FrameStatus::idle, 10);
    stream->deliver(platform::FrameStatus::blank, 10.5);
    // A time that is not a number falls back to the host clock now.
    service.pointer->setTime(11);
    stream->deliver(platform::FrameStatus::complete, std::numeric_limits<double>::quiet_NaN());
    stream->deliver(platform::FrameStatus::complete, 12);
    // A click at 11.25 host time is 0.25 s into the movie. Moved between two
    // ticks (which run on the click queue), then wait for a tick to see it.
    int before = 0;
    clickQueue.sync([&] {
        service.pointer->set(11.25, 600.5, 1000 - 350.5, true);
        before = service.pointer->reads;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (service.pointer->reads <= before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto event = recording.stoppedEvent();
    const auto clicks = (dir.path / "rec.clicks.json").string();
    EXPECT_EQ(text(event, "clicks"), clicks);
    EXPECT_EQ(text(event, "file"), movie);
    EXPECT_EQ(text(event, "event"), "stopped");
    EXPECT_EQ(event.size(), 4u);
    const std::string file = quorvane::testing::readFile(clicks);
    EXPECT_NE(file.find("\"clicks\":[{\"inside\":true,\"t\":0.25,\"x\":0.5,\"y\":0.5}]"),
              std::string::npos)
        << file;
    // Asked again, no second side file and no clicks key.
    EXPECT_EQ(recording.stoppedEvent().count("clicks"), 0u);
}

TEST_F(Recording, FailedStartLeavesNoStreamButKeepsTheClickLog) {
    service.failStart = true;
    WindowRecording recording(movie, service, clickQueue);
    EXPECT_THROW(recording.start(window, 30, true), platform::ScreenCaptureError);
    EXPECT_FALSE(recording.stream());
    EXPECT_EQ(recording.stoppedEvent().count("clicks"), 1u);
}

TEST_F(Recording, StoppedEventWithoutClickLogHasNoClicks) {
    WindowRecording recording(movie, service, clickQueue);
    const auto event = recording.stoppedEvent();
    EXPECT_EQ(event.size(), 3u);
    EXPECT_EQ(text(event, "file"), movie);
}

} // namespace
} // namespace quorvane::jobs::record_window
