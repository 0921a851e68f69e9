#include "jobs/record_window/WindowChoice.h"

#include <gtest/gtest.h>

namespace quorvane::jobs::record_window {
namespace {

platform::Window window(std::uint32_t id, const char* app, double w, double h) {
    platform::Window win;
    win.windowID = id;
    win.frame = {0, 0, w, h};
    if (app) win.owningApplication = platform::OwningApplication{app};
    return win;
}

std::optional<std::uint32_t> chosen(const std::vector<platform::Window>& windows,
                                    std::optional<std::uint32_t> id,
                                    std::optional<std::string> app) {
    const auto w = chooseWindow(windows, id, app);
    if (!w) return std::nullopt;
    return w->windowID;
}

TEST(WindowChoice, MatchesApplicationNamesWithoutRegardToCase) {
    struct Case {
        const char* name;
        const char* text;
        bool matches;
    };
    const Case cases[] = {
        {"XTerm", "xterm", true},   {"XTerm", "TER", true},
        {"XTerm", "x term", false}, {"Émile Éditeur", "éDIT", true},
        {"ΣΟΦΙΑ", "σοφ", true},     {"XTerm", "", false},
        {"", "x", false},           {"Mail", "mail!", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(containsIgnoringCase(c.name, c.text), c.matches) << c.name << " / " << c.text;
    // Bytes that are not UTF-8 only match themselves.
    EXPECT_TRUE(containsIgnoringCase("a\xff"
                                     "b",
                                     "\xff"));
    EXPECT_FALSE(containsIgnoringCase("a\xfe"
                                      "b",
                                      "\xff"));
    // An overlong form of "A" is not the letter.
    EXPECT_FALSE(containsIgnoringCase("\xC1\x81pp", "app"));
}

TEST(WindowChoice, LargestCandidateFirstAmongEquals) {
    const std::vector<platform::Window> windows{
        window(1, "Terminal", 800, 600), window(2, "Editor", 2000, 2000),
        window(3, "terminal", 1200, 800), window(4, "Terminal", 960, 1000),
        window(5, nullptr, 3000, 3000)};
    EXPECT_EQ(chosen(windows, std::nullopt, "TERM"), 3u); // 960000 both: the first listed
    EXPECT_EQ(chosen(windows, std::nullopt, "edit"), 2u);
    EXPECT_EQ(chosen(windows, std::nullopt, "nothing"), std::nullopt);
    EXPECT_EQ(chosen(windows, std::nullopt, ""), std::nullopt);
    EXPECT_EQ(chosen(windows, std::nullopt, std::nullopt), std::nullopt);
}

TEST(WindowChoice, WindowNumberWinsOverTheApplicationText) {
    const std::vector<platform::Window> windows{window(1, "Terminal", 800, 600),
                                                window(5, nullptr, 300, 300)};
    EXPECT_EQ(chosen(windows, 1u, "Editor"), 1u);
    EXPECT_EQ(chosen(windows, 5u, std::nullopt), 5u);
    EXPECT_EQ(chosen(windows, 7u, "Terminal"), std::nullopt);
}

} // namespace
} // namespace quorvane::jobs::record_window
