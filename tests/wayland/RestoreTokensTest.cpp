// The restore tokens kept between runs: one per --app text and one for the
// run without --app, where the file lives, files that are not ours, runs
// that store at the same time, the bound and the file's privacy.
#include "jobs/record_window/RestoreTokens.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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
    // The newest choice first.
    EXPECT_EQ(readFile(path),
              R"({"choices":[{"app":"Fo\"ot","token":"t-quote"},{"app":"","token":"t-empty"}],)"
              R"("version":2})");
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

TEST(RestoreTokens, RunsAtTheSameTimeKeepEachOthersChoices) {
    TempDir dir;
    const auto path = (dir.path / "choices.json").string();
    // Both read the file before either stored.
    RestoreTokens first(path);
    RestoreTokens second(path);
    EXPECT_TRUE(first.store(std::string("one"), std::string("t1")));
    EXPECT_TRUE(second.store(std::string("two"), std::string("t2")));
    EXPECT_EQ(RestoreTokens(path).find(std::string("one")), "t1");

    // Processes storing at once, each several choices.
    constexpr int kProcesses = 4;
    constexpr int kEach = 6;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < kEach; ++i) {
                const std::string app = "app" + std::to_string(p) + "-" + std::to_string(i);
                ok = RestoreTokens(path).store(app, "t-" + app) && ok;
            }
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RestoreTokens all(path);
    for (int p = 0; p < kProcesses; ++p)
        for (int i = 0; i < kEach; ++i) {
            const std::string app = "app" + std::to_string(p) + "-" + std::to_string(i);
            EXPECT_EQ(all.find(app), "t-" + app);
        }
    EXPECT_EQ(all.find(std::string("one")), "t1");
    EXPECT_EQ(all.find(std::string("two")), "t2");
}

TEST(RestoreTokens, KeepsTheMostRecentlyUsedChoicesOnly) {
    TempDir dir;
    const auto path = (dir.path / "choices.json").string();
    RestoreTokens tokens(path);
    EXPECT_TRUE(tokens.store(std::string("kept"), std::string("t-kept")));
    for (std::size_t i = 0; i < RestoreTokens::kMaxChoices + 8; ++i) {
        EXPECT_TRUE(tokens.store("app" + std::to_string(i), std::string("t")));
        // Used again now and then: it stays among the newest.
        if (i % 16 == 15) {
            EXPECT_TRUE(tokens.store(std::string("kept"), std::string("t-kept")));
        }
    }
    RestoreTokens again(path);
    EXPECT_EQ(again.find(std::string("kept")), "t-kept");
    EXPECT_TRUE(again.find("app" + std::to_string(RestoreTokens::kMaxChoices + 7)));
    EXPECT_FALSE(again.find(std::string("app0"))) << "the oldest choices went";
    std::size_t count = 0;
    for (std::size_t i = 0; i < RestoreTokens::kMaxChoices + 8; ++i)
        count += again.find("app" + std::to_string(i)).has_value();
    EXPECT_EQ(count + 1, RestoreTokens::kMaxChoices);
}

TEST(RestoreTokens, TheFileIsTheUsersAloneAndTheFirstFormStillReads) {
    TempDir dir;
    const auto path = (dir.path / "choices.json").string();
    std::ofstream(path) << R"({"version":1,"apps":{"foot":"t-foot"},"withoutApp":"t-none"})";
    ::chmod(path.c_str(), 0644);
    const mode_t oldMask = ::umask(0);
    RestoreTokens tokens(path);
    EXPECT_EQ(tokens.find(std::string("foot")), "t-foot");
    EXPECT_EQ(tokens.find(std::nullopt), "t-none");
    EXPECT_TRUE(tokens.store(std::string("other"), std::string("t-other")));
    ::umask(oldMask);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    RestoreTokens again(path);
    EXPECT_EQ(again.find(std::string("foot")), "t-foot");
    EXPECT_EQ(again.find(std::nullopt), "t-none");
    EXPECT_EQ(again.find(std::string("other")), "t-other");
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
