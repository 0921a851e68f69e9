#include "jobs/record_window/RecordWindowOptions.h"

#include <gtest/gtest.h>

#include <limits>

namespace quorvane::jobs::record_window {
namespace {

using Args = std::vector<std::string>;

TEST(RecordWindowOptions, OutIsRequired) {
    EXPECT_FALSE(readOptions({}));
    EXPECT_FALSE(readOptions({"--app", "x"}));
    EXPECT_FALSE(readOptions({"--app", "x", "--out"}));
}

TEST(RecordWindowOptions, DefaultsAndParsing) {
    const auto plain = readOptions({"--out", "a.mov"});
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->out, "a.mov");
    EXPECT_FALSE(plain->app);
    EXPECT_FALSE(plain->windowId);
    EXPECT_EQ(plain->fps, 30);
    EXPECT_EQ(plain->maxSeconds, 600);
    EXPECT_TRUE(plain->cursor);

    struct FpsCase {
        const char* text;
        int fps;
    };
    for (const auto& c : {FpsCase{"100", 60}, FpsCase{"1", 5}, FpsCase{"abc", 30}, FpsCase{"-7", 5},
                          FpsCase{"+24", 24}, FpsCase{"99999999999999999999", 30}})
        EXPECT_EQ(readOptions({"--out", "a", "--fps", c.text})->fps, c.fps) << c.text;

    EXPECT_EQ(readOptions({"--out", "a", "--max", "abc"})->maxSeconds, 600);
    EXPECT_EQ(readOptions({"--out", "a", "--max", "0.5"})->maxSeconds, 0.5);
    EXPECT_EQ(readOptions({"--out", "a", "--max", "0x10"})->maxSeconds, 16);
    EXPECT_EQ(readOptions({"--out", "a", "--max", " 5"})->maxSeconds, 600);

    EXPECT_EQ(readOptions({"--out", "a", "--window-id", "+42"})->windowId, 42u);
    EXPECT_FALSE(readOptions({"--out", "a", "--window-id", "4294967296"})->windowId);
    EXPECT_FALSE(readOptions({"--out", "a", "--window-id", "0x10"})->windowId);
}

TEST(RecordWindowOptions, SwitchCountsAnywhere) {
    const auto o = readOptions({"--app", "--no-cursor", "--out", "a.mov"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->app, "--no-cursor");
    EXPECT_FALSE(o->cursor);
}

TEST(RecordWindowOptions, DurationDeadline) {
    using std::chrono::nanoseconds;
    EXPECT_EQ(durationDeadline(0.5), nanoseconds(500'000'000));
    EXPECT_EQ(durationDeadline(0), nanoseconds(0));
    EXPECT_EQ(durationDeadline(-3), nanoseconds(0));
    EXPECT_EQ(durationDeadline(-std::numeric_limits<double>::infinity()), nanoseconds(0));
    EXPECT_FALSE(durationDeadline(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(durationDeadline(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(durationDeadline(1e300));
}

} // namespace
} // namespace quorvane::jobs::record_window
