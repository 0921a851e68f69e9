#include "jobs/record_window/ClickLog.h"

#include "FakePointer.h"
#include "TempDir.h"
#include "json/Writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quorvane::jobs::record_window {
namespace {

using testing::FakePointer;
using testing::readFile;
using testing::TempDir;

// A 200 x 100 point window whose top-left corner is at (100, 50) on a main
// display 1000 points tall; the pointer's y counts upwards from the bottom.
const platform::Rect frame{100, 50, 200, 100};

platform::Point topLeftOrigin(double x, double yDown) {
    return {x, 1000 - yDown};
}

TEST(ClickLogLocate, FractionsAndInsideAtTheEdges) {
    struct Case {
        const char* what;
        double x, yDown;
        double fx, fy;
        bool inside;
    };
    const Case cases[] = {
        {"centre", 200, 100, 0.5, 0.5, true},
        {"top-left corner", 100, 50, 0, 0, true},
        {"on the right edge", 300, 75, 1, 0.25, true},
        {"on the bottom edge", 150, 150, 0.25, 1, true},
        {"left of the window", 50, 100, 0, 0.5, false},
        {"right of the window", 301, 100, 1, 0.5, false},
        {"above the window", 200, 40, 0.5, 0, false},
        {"below the window", 200, 400, 0.5, 1, false},
    };
    for (const auto& c : cases) {
        const Sample s = clicklog::locate(7, topLeftOrigin(c.x, c.yDown), 1000, frame);
        EXPECT_DOUBLE_EQ(s.x, c.fx) << c.what;
        EXPECT_DOUBLE_EQ(s.y, c.fy) << c.what;
        EXPECT_EQ(s.inside, c.inside) << c.what;
        EXPECT_EQ(s.time, 7) << c.what;
    }
}

TEST(ClickLogLocate, EmptyOrUnknownFrameGivesZero) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const platform::Rect r : {platform::Rect{0, 0, 0, 0}, platform::Rect{0, 0, nan, nan}}) {
        const Sample s = clicklog::locate(0, {10, 10}, 1000, r);
        EXPECT_EQ(s.x, 0);
        EXPECT_EQ(s.y, 0);
        EXPECT_TRUE(s.inside);
    }
    // A pointer reading that is not a number is clamped to 0, never written as NaN.
    const Sample s = clicklog::locate(0, {nan, nan}, 1000, frame);
    EXPECT_EQ(s.x, 0);
    EXPECT_EQ(s.y, 0);
    EXPECT_FALSE(s.inside);
}

TEST(ClickLogThin, KeepsAtMostTwentyThousandSpreadEvenly) {
    auto samples = [](int n) {
        std::vector<Sample> v(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            v[static_cast<std::size_t>(i)].time = i;
        return v;
    };
    EXPECT_EQ(clicklog::thin(samples(20000)).size(), 20000u);
    EXPECT_EQ(clicklog::thin(samples(5)).size(), 5u);

    const auto one_over = clicklog::thin(samples(20001));
    ASSERT_EQ(one_over.size(), 20000u);
    for (std::size_t i = 0; i < one_over.size(); ++i)
        ASSERT_EQ(one_over[i].time, double(i));

    const auto twice = clicklog::thin(samples(40000));
    ASSERT_EQ(twice.size(), 20000u);
    for (std::size_t i = 0; i < twice.size(); ++i)
        ASSERT_EQ(twice[i].time, double(2 * i));

    // Whole-number arithmetic that does not overflow for long recordings.
    const auto many = clicklog::thin(samples(3'000'001));
    ASSERT_EQ(many.size(), 20000u);
    EXPECT_EQ(many.back().time, double(19999LL * 3'000'001 / 20000));
}

TEST(ClickLogSideFile, NumberFormAndKeyOrder) {
    const std::vector<Sample> clicks{{1.2345, 0.12345, 0.99995, true}, {2, 0.5, 2.0 / 3, false}};
    const std::vector<Sample> pointer{{0, 0.123449, 0, false}, {0.0005, 1, 0.25, true}};
    const platform::Rect window{-1440, 12.345, 1280.004, 719.999};
    const auto text = json::serialize(clicklog::sideFile(window, clicks, pointer, 0));
    EXPECT_EQ(text, "{\"clicks\":[{\"inside\":true,\"t\":1.235,\"x\":0.1235,\"y\":1},"
                    "{\"inside\":false,\"t\":2,\"x\":0.5,\"y\":0.6667}],"
                    "\"pointer\":[{\"t\":0,\"x\":0.1234,\"y\":0},{\"t\":0.001,\"x\":1,\"y\":0.25}],"
                    "\"version\":1,"
                    "\"window\":{\"height\":720,\"width\":1280,\"x\":-1440,\"y\":12.35}}");
}

TEST(ClickLogPath, ReplacesTheLastExtensionAndIsAbsolute) {
    EXPECT_EQ(clicklog::sideFilePath("/tmp/a/demo.mov"), "/tmp/a/demo.clicks.json");
    EXPECT_EQ(clicklog::sideFilePath("/tmp/take.2.mov"), "/tmp/take.2.clicks.json");
    EXPECT_EQ(clicklog::sideFilePath("/tmp/rec"), "/tmp/rec.clicks.json");
    const auto cwd = std::filesystem::current_path();
    EXPECT_EQ(clicklog::sideFilePath("rec.mov"), (cwd / "rec.clicks.json").string());
}

class ClickLogRun : public ::testing::Test {
  protected:
    std::shared_ptr<FakePointer> pointer = std::make_shared<FakePointer>();
    std::shared_ptr<ClickLog> log = std::make_shared<ClickLog>(frame, pointer);
    TempDir dir;
    std::string movie = (dir.path / "rec.mov").string();

    // One tick at `time` with the pointer at a top-left-origin position.
    void tickAt(double time, double x, double yDown, bool down) {
        pointer->set(time, topLeftOrigin(x, yDown).x, topLeftOrigin(x, yDown).y, down);
        log->tick();
    }
    std::string finishAndRead() {
        auto path = log->finish(movie);
        EXPECT_TRUE(path);
        EXPECT_EQ(*path, (dir.path / "rec.clicks.json").string());
        return path ? readFile(*path) : "";
    }
};

TEST_F(ClickLogRun, HeldButtonIsOneClickAndEverySixthTickIsSampled) {
    log->noteFirstFrame(0);
    for (int i = 0; i < 60; ++i)
        tickAt(i * 0.0125, 200, 100, i >= 2);
    tickAt(0.75, 150, 75, false);
    tickAt(0.7626, 150, 75, true); // a second press after a release
    // 62 ticks: samples at ticks 0, 6, …, 60; clicks at ticks 2 and 61.
    EXPECT_EQ(finishAndRead(),
              "{\"clicks\":[{\"inside\":true,\"t\":0.025,\"x\":0.5,\"y\":0.5},"
              "{\"inside\":true,\"t\":0.763,\"x\":0.25,\"y\":0.25}],"
              "\"pointer\":[{\"t\":0,\"x\":0.5,\"y\":0.5},{\"t\":0.075,\"x\":0.5,\"y\":0.5},"
              "{\"t\":0.15,\"x\":0.5,\"y\":0.5},{\"t\":0.225,\"x\":0.5,\"y\":0.5},"
              "{\"t\":0.3,\"x\":0.5,\"y\":0.5},{\"t\":0.375,\"x\":0.5,\"y\":0.5},"
              "{\"t\":0.45,\"x\":0.5,\"y\":0.5},{\"t\":0.525,\"x\":0.5,\"y\":0.5},"
              "{\"t\":0.6,\"x\":0.5,\"y\":0.5},{\"t\":0.675,\"x\":0.5,\"y\":0.5},"
              "{\"t\":0.75,\"x\":0.25,\"y\":0.25}],"
              "\"version\":1,\"window\":{\"height\":100,\"width\":200,\"x\":100,\"y\":50}}");
}

TEST_F(ClickLogRun, PressesBetweenTicksAreClicksAtTheNextTick) {
    log->noteFirstFrame(0);
    struct Step {
        int presses; // reported since the previous tick
        bool down;   // seen at the tick
    };
    const Step steps[] = {
        {1, false},            // pressed and released between two ticks: a click at 0.1
        {0, false}, {1, true}, // pressed and still held: one click at 0.3
        {0, true},  {1, true}, // released and pressed again between two ticks: 0.5
        {2, false},            // two quick presses: two clicks at 0.6
        {0, false}, {0, true}, // a press only the poll saw: 0.8
    };
    int tick = 0;
    for (const auto& step : steps) {
        pointer->press(step.presses);
        tickAt(++tick * 0.1, 150, 75, step.down);
    }
    const std::string text = finishAndRead();
    std::string expected = "{\"clicks\":[";
    for (const char* t : {"0.1", "0.3", "0.5", "0.6", "0.6", "0.8"})
        expected += std::string(expected.back() == '[' ? "" : ",") + "{\"inside\":true,\"t\":" + t +
                    ",\"x\":0.25,\"y\":0.25}";
    EXPECT_EQ(text.substr(0, expected.size()), expected);
    EXPECT_EQ(text.substr(expected.size(), 12), "],\"pointer\":");
}

TEST_F(ClickLogRun, WhileSamplingTheFileIsKeptUpToDateAboutOnceASecond) {
    log->writeWhileSampling(movie);
    log->noteFirstFrame(0);
    const auto side = dir.path / "rec.clicks.json";
    for (int i = 0; i < 59; ++i)
        tickAt(i / 60.0, 200, 100, i == 30);
    log->waitForWrites();
    EXPECT_FALSE(std::filesystem::exists(side));
    tickAt(59 / 60.0, 200, 100, false);
    // The 60th tick has what a finish would write at that moment written,
    // on the writing thread.
    log->waitForWrites();
    ASSERT_TRUE(std::filesystem::exists(side));
    const std::string interim = readFile(side);
    EXPECT_EQ(interim.find("\"clicks\":[{\"inside\":true,\"t\":0.5,"), 1u) << interim;
    tickAt(1.5, 150, 75, true);
    const std::string last = finishAndRead();
    EXPECT_NE(last, interim);
    EXPECT_NE(last.find("\"t\":1.5"), std::string::npos) << last;
}

TEST_F(ClickLogRun, NothingAfterTheMovieEndIsWritten) {
    log->noteFirstFrame(0);
    for (int i = 0; i < 31; ++i)
        tickAt(i / 10.0, 200, 100, i == 12 || i == 22);
    // The stop began at 1.9 s; the stream's own end, noted later, comes
    // after it: the earlier one counts.
    log->noteEnd(1.9);
    log->noteEnd(2.05);
    const std::string text = finishAndRead();
    EXPECT_NE(text.find("\"clicks\":[{\"inside\":true,\"t\":1.2,"), std::string::npos) << text;
    EXPECT_EQ(text.find("\"t\":2.2"), std::string::npos) << text; // the second click
    EXPECT_NE(text.find("{\"t\":1.8,\"x\":0.5,\"y\":0.5}],\"version\""), std::string::npos)
        << text; // the last pointer sample kept: ticks 24 and 30 lie after the end
}

TEST_F(ClickLogRun, DiscardRemovesTheFileKeptWhileSampling) {
    log->writeWhileSampling(movie);
    for (int i = 0; i < 60; ++i)
        tickAt(i / 60.0, 200, 100, false);
    log->waitForWrites();
    ASSERT_TRUE(std::filesystem::exists(dir.path / "rec.clicks.json"));
    log->discard();
    EXPECT_FALSE(std::filesystem::exists(dir.path / "rec.clicks.json"));
    for (int i = 60; i < 130; ++i)
        tickAt(i / 60.0, 200, 100, false);
    EXPECT_FALSE(log->finish(movie));
    EXPECT_FALSE(std::filesystem::exists(dir.path / "rec.clicks.json"));
}

TEST_F(ClickLogRun, DiscardLeavesAFileItDidNotWrite) {
    { std::ofstream(dir.path / "rec.clicks.json") << "{}"; }
    log->writeWhileSampling(movie);
    tickAt(0, 200, 100, false);
    log->discard();
    EXPECT_EQ(readFile(dir.path / "rec.clicks.json"), "{}");
}

TEST_F(ClickLogRun, FirstFrameIsTheTimeBaseAndOnlyTheFirstNoteCounts) {
    for (int i = 0; i < 13; ++i)
        tickAt(100 + i * 0.1, 200, 100, i == 8);
    log->noteFirstFrame(100.5);
    log->noteFirstFrame(100.9);
    // Samples at ticks 0 and 6 (100.0, 100.6) and 12 (101.2); the first is
    // before the first frame.
    EXPECT_EQ(finishAndRead(),
              "{\"clicks\":[{\"inside\":true,\"t\":0.3,\"x\":0.5,\"y\":0.5}],"
              "\"pointer\":[{\"t\":0.1,\"x\":0.5,\"y\":0.5},{\"t\":0.7,\"x\":0.5,\"y\":0.5}],"
              "\"version\":1,\"window\":{\"height\":100,\"width\":200,\"x\":100,\"y\":50}}");
}

TEST_F(ClickLogRun, WithoutFramesTheFirstClickIsTheTimeBase) {
    for (int i = 0; i < 13; ++i)
        tickAt(50 + i * 0.1, 200, 100, i == 3);
    EXPECT_EQ(finishAndRead(),
              "{\"clicks\":[{\"inside\":true,\"t\":0,\"x\":0.5,\"y\":0.5}],"
              "\"pointer\":[{\"t\":0.3,\"x\":0.5,\"y\":0.5},{\"t\":0.9,\"x\":0.5,\"y\":0.5}],"
              "\"version\":1,\"window\":{\"height\":100,\"width\":200,\"x\":100,\"y\":50}}");
}

TEST_F(ClickLogRun, WithoutClicksOrFramesTheFirstSampleIsTheTimeBase) {
    for (int i = 0; i < 7; ++i)
        tickAt(50 + i * 0.1, 0, 0, false);
    EXPECT_EQ(finishAndRead(), "{\"clicks\":[],\"pointer\":[{\"t\":0,\"x\":0,\"y\":0},"
                               "{\"t\":0.6,\"x\":0,\"y\":0}],\"version\":1,\"window\":"
                               "{\"height\":100,\"width\":200,\"x\":100,\"y\":50}}");
}

TEST_F(ClickLogRun, NothingSampledStillWritesTheFile) {
    EXPECT_EQ(finishAndRead(), "{\"clicks\":[],\"pointer\":[],\"version\":1,\"window\":"
                               "{\"height\":100,\"width\":200,\"x\":100,\"y\":50}}");
}

TEST_F(ClickLogRun, SecondFinishReturnsNothingAndLeavesTheFile) {
    tickAt(1, 200, 100, true);
    const std::string first = finishAndRead();
    tickAt(2, 150, 75, false);
    tickAt(3, 150, 75, true);
    EXPECT_FALSE(log->finish(movie));
    EXPECT_EQ(readFile(dir.path / "rec.clicks.json"), first);
}

TEST_F(ClickLogRun, ReplacesAnExistingFileAndLeavesNoTemporaryFiles) {
    { std::ofstream(dir.path / "rec.clicks.json") << "old content that is longer than the new"; }
    finishAndRead();
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path)) {
        ++files;
        EXPECT_EQ(e.path().filename(), "rec.clicks.json");
    }
    EXPECT_EQ(files, 1);
}

TEST_F(ClickLogRun, UnwritableFolderGivesNothing) {
    EXPECT_FALSE(log->finish((dir.path / "missing" / "rec.mov").string()));
    EXPECT_FALSE(log->finish(movie)); // not retried
    EXPECT_FALSE(std::filesystem::exists(dir.path / "rec.clicks.json"));
}

TEST_F(ClickLogRun, SampleThatCannotBeWrittenGivesNothing) {
    log->noteFirstFrame(std::numeric_limits<double>::infinity());
    tickAt(std::numeric_limits<double>::infinity(), 200, 100, true);
    EXPECT_FALSE(log->finish(movie));
    EXPECT_FALSE(std::filesystem::exists(dir.path / "rec.clicks.json"));
}

} // namespace
} // namespace quorvane::jobs::record_window
