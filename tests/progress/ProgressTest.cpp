// The progress line: its text, how often it is drawn, its erasure, and that
// nothing at all is written when standard error is not a terminal.
#include "shell/Progress.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace quorvane::shell {
namespace {

using namespace std::chrono_literals;

TEST(ProgressText, ShareAndTimeLeft) {
    const std::string dot = " \u00b7 about ";
    const struct {
        double share;
        ProgressClock::duration elapsed;
        std::string text;
    } cases[] = {
        {0.0, 0s, "0%"},
        {0.0, 30s, "0%"},    // nothing to estimate from
        {0.5, 500ms, "50%"}, // too early to tell
        {0.005, 10s, "0%"},  // too little done to tell
        {0.25, 10s, "25%" + dot + "0:30 left"},
        {0.999, 100s, "99%" + dot + "0:01 left"}, // floored share, time rounded up
        {0.1, 400s, "10%" + dot + "1:00:00 left"},
        {0.5, 61s, "50%" + dot + "1:01 left"},
        {1.0, 10s, "100%"},
        {1.7, 10s, "100%"},
        {-0.2, 10s, "0%"},
        {std::nan(""), 10s, "0%"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progressText(c.share, c.elapsed), c.text) << c.share;
}

struct Recorder {
    std::vector<std::string> writes;
    Progress::Write write() {
        return [this](std::string_view b) { writes.emplace_back(b); };
    }
};

TEST(ProgressLine, AtMostTenDrawsASecondThenErasedOnce) {
    Recorder r;
    const auto t0 = ProgressClock::time_point{} + 1000s;
    Progress p(r.write(), t0);
    // 2 s of updates every millisecond, each with a new share.
    for (int ms = 0; ms < 2000; ++ms)
        p.update(ms / 2000.0, t0 + std::chrono::milliseconds(ms));
    EXPECT_LE(r.writes.size(), 21u);
    EXPECT_GE(r.writes.size(), 15u);
    for (const auto& w : r.writes) {
        EXPECT_EQ(w.front(), '\r');
        EXPECT_TRUE(w.ends_with("\x1b[K")) << w;
    }
    EXPECT_EQ(r.writes.front(), "\r0%\x1b[K");
    EXPECT_NE(r.writes.back().find("about"), std::string::npos) << r.writes.back();
    p.clear();
    ASSERT_EQ(r.writes.back(), "\r\x1b[K");
    const auto count = r.writes.size();
    p.update(0.9, t0 + 10s);
    p.clear();
    EXPECT_EQ(r.writes.size(), count); // nothing after the erasure
}

TEST(ProgressLine, AnUnchangedLineIsNotDrawnAgain) {
    Recorder r;
    const auto t0 = ProgressClock::time_point{};
    Progress p(r.write(), t0);
    for (int i = 0; i < 50; ++i)
        p.update(0.0, t0 + std::chrono::milliseconds(200 * i));
    EXPECT_EQ(r.writes.size(), 1u);
}

TEST(ProgressLine, NothingToEraseWhenNothingWasDrawn) {
    Recorder r;
    Progress p(r.write(), ProgressClock::now());
    p.clear();
    EXPECT_TRUE(r.writes.empty());
}

TEST(ProgressLine, StandardErrorThatIsNotATerminalGetsNothing) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int saved = dup(STDERR_FILENO);
    ASSERT_GE(dup2(fds[1], STDERR_FILENO), 0);
    {
        auto p = Progress::onStandardError();
        for (int i = 0; i <= 10; ++i)
            p.update(i / 10.0, ProgressClock::now() + std::chrono::seconds(i));
        p.clear();
    }
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(fds[1]);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    char buf[64];
    EXPECT_EQ(read(fds[0], buf, sizeof buf), 0); // end of the pipe, nothing in it
    close(fds[0]);
}

} // namespace
} // namespace quorvane::shell
