#include "shell/Option.h"

#include <gtest/gtest.h>

using quorvane::shell::hasSwitch;
using quorvane::shell::option;
using Args = std::vector<std::string>;

TEST(Option, WordAfterFirstOccurrence) {
    EXPECT_EQ(option("--out", Args{"--out", "a.mov"}), "a.mov");
    EXPECT_EQ(option("--out", Args{"--out", "a.mov", "--out", "b.mov"}), "a.mov");
    EXPECT_EQ(option("--out", Args{"--out", "--app"}), "--app");
    EXPECT_EQ(option("--out", Args{"x", "--out", ""}), "");
}

TEST(Option, NothingWhenAbsentOrLast) {
    EXPECT_EQ(option("--out", Args{}), std::nullopt);
    EXPECT_EQ(option("--out", Args{"--app", "x"}), std::nullopt);
    EXPECT_EQ(option("--out", Args{"a", "--out"}), std::nullopt);
    // The search does not go on past a flag in last position.
    EXPECT_EQ(option("--OUT", Args{"--out", "a"}), std::nullopt);
}

TEST(Option, SwitchesCountAnywhere) {
    EXPECT_TRUE(hasSwitch("--mic", Args{"--out", "a", "--mic"}));
    EXPECT_TRUE(hasSwitch("--mic", Args{"--mic", "--out", "a"}));
    EXPECT_FALSE(hasSwitch("--mic", Args{"--microphone"}));
}
