// The restore tokens kept between runs: one per --app text and one for the
// run without --app, where the file lives, and files that are not ours.
#include "jobs/record_window/RestoreTokens.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace quorvane::jobs::record_window {
namespace {

using quorvane::testing::readFile;
using quorvane::testing::TempDir;

TEST(RestoreTokens, KeepsOneChoicePerAppTextAndOneWithoutApp) {
    TempDir dir;
    const auto path = (dir.path / "a" / "b" / "choices.json").string();
    {
        RestoreTokens tokens(path); // the file and its folders do not exist yet
        EXPECT_FALSE(tokens.find(std::string("foot")));
        EXPECT_FALSE(tokens.find(std::nullopt));
        EXPECT_TRUE(tokens.store(std::string("foot"), std::string("t-foot")));
        EXPECT_TRUE(tokens.store(std::nullopt, std::string("t-none")));
        EXPECT_TRUE(tokens.store(std::string(""), std::string("t-empty")));
        EXPECT_TRUE(tokens.store(std::string("Fo\"ot"), std::string("t-quote")));
    }
    struct stat info {};
    ASSERT_EQ(::stat((dir.path / "a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u) << "the folder is the user's alone";

    RestoreTokens again(path);
    EXPECT_EQ(again.find(std::string("foot")), "t-foot");
    EXPECT_EQ(again.find(std::nullopt), "t-none");
    EXPECT_EQ(again.find(std::string("")), "t-empty");
    EXPECT_EQ(again.find(std::string("Fo\"ot")), "t-quote");
    EXPECT_FALSE(again.find(std::string("FOOT"))) << "the text is the key as given";

    // A run that got no token forgets the choice; the others stay.
    EXPECT_TRUE(again.store(std::string("foot"), std::nullopt));
    EXPECT_TRUE(again.store(std::nullopt, std::nullopt));
    RestoreTokens third(path);
    EXPECT_FALSE(third.find(std::string("foot")));
    EXPECT_FALSE(third.find(std::nullopt));
    EXPECT_EQ(third.find(std::string("")), "t-empty");
    EXPECT_EQ(readFile(path), R"({"apps":{"":"t-empty","Fo\"ot":"t-quote"},"version":1})");
}

TEST(RestoreTokens, FilesThatAreNotOursHoldNoChoice) {
    TempDir dir;
    for (const char* text : {"", "not json", "[1,2]", R"({"apps":{"foot":3},"withoutApp":[]})",
                             R"({"apps":"foot"})"}) {
        const auto path = (dir.path / "c.json").string();
        std::ofstream(path) << text;
        RestoreTokens tokens(path);
        EXPECT_FALSE(tokens.find(std::string("foot"))) << text;
        EXPECT_FALSE(tokens.find(std::nullopt)) << text;
    }
}

// A named pipe with no writer would keep a plain read waiting forever; a
// folder in the file's place holds no choice either. Storing replaces it.
TEST(RestoreTokens, APipeOrFolderInTheFilesPlaceHoldsNoChoice) {
    TempDir dir;
    const auto pipe = (dir.path / "pipe.json").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const auto folder = (dir.path / "folder.json").string();
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    for (const auto& path : {pipe, folder}) {
        RestoreTokens tokens(path);
        EXPECT_FALSE(tokens.find(std::nullopt)) << path;
    }
    RestoreTokens tokens(pipe);
    ASSERT_TRUE(tokens.store(std::nullopt, std::string("t1")));
    EXPECT_EQ(RestoreTokens(pipe).find(std::nullopt), std::string("t1"));
}

TEST(RestoreTokens, LiveUnderTheStateHome) {
    const char* oldState = std::getenv("XDG_STATE_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedState = oldState ? oldState : "";
    const std::string savedHome = oldHome ? oldHome : "";

    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_STATE_HOME", "/var/state", 1);
    EXPECT_EQ(RestoreTokens::defaultPath(), "/var/state/quorvane/portal-choices.json");
    ::setenv("XDG_STATE_HOME", "relative/state", 1); // not absolute: ignored
    EXPECT_EQ(RestoreTokens::defaultPath(),
              "/home/someone/.local/state/quorvane/portal-choices.json");
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(RestoreTokens::defaultPath(),
              "/home/someone/.local/state/quorvane/portal-choices.json");

    if (oldState) ::setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    if (oldHome)
        ::setenv("HOME", savedHome.c_str(), 1);
    else
        ::unsetenv("HOME");
}

TEST(RestoreTokens, AnUnwritableFolderIsReportedNotThrown) {
    TempDir dir;
    const auto blocker = dir.path / "file";
    std::ofstream(blocker) << "x";
    RestoreTokens tokens((blocker / "choices.json").string());
    EXPECT_FALSE(tokens.store(std::string("foot"), std::string("t")));
}

} // namespace
} // namespace quorvane::jobs::record_window
