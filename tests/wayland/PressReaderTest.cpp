// The press reader's own thread over a folder of nodes that come and go:
// nodes that are not pointers are never opened, and the reader ends at once.
#include "input/PressReader.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace quorvane::backends::input {
namespace {

namespace fs = std::filesystem;

void describe(const fs::path& sys, const std::string& node, const std::string& ev,
              const std::string& key) {
    const fs::path caps = sys / "class" / "input" / node / "device" / "capabilities";
    fs::create_directories(caps);
    std::ofstream(caps / "ev") << ev << "\n";
    std::ofstream(caps / "key") << key << "\n";
    std::ofstream(caps / "rel") << "3\n";
}

// How many of this process's descriptors lead into `folder`.
int openedUnder(const fs::path& folder) {
    int n = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        const fs::path target = fs::read_symlink(entry.path(), ignored);
        if (target.string().rfind(folder.string() + "/", 0) == 0) ++n;
    }
    return n;
}

TEST(PressReader, KeyboardsAreNeverOpenedAndPointersThatFailAreDropped) {
    quorvane::testing::TempDir dir;
    const fs::path dev = dir.path / "dev";
    const fs::path sys = dir.path / "sys";
    fs::create_directories(dev / "input");
    describe(sys, "event0", "120013", "fffffffffffffffe"); // a keyboard
    describe(sys, "event1", "17", "70000 0 0 0 0");        // a mouse
    ASSERT_EQ(::mkfifo((dev / "input" / "event0").c_str(), 0600), 0);
    {
        PressReader reader(Handedness{}, dev.string(), sys.string());
        // A mouse node that answers no evdev request comes and goes, the
        // keyboard's node changes, while the clicks are taken.
        ASSERT_EQ(::mkfifo((dev / "input" / "event1").c_str(), 0600), 0);
        ::chmod((dev / "input" / "event0").c_str(), 0640);
        for (int i = 0; i < 20; ++i) {
            EXPECT_EQ(reader.takePressesUntil(1e12), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        fs::remove(dev / "input" / "event1");
        EXPECT_EQ(openedUnder(dev / "input"), 0);
    }
    EXPECT_EQ(openedUnder(dev), 0);
}

TEST(PressReader, WithoutAFolderOfNodesThereAreNoPresses) {
    PressReader reader(Handedness{}, "/nonexistent", "/nonexistent");
    EXPECT_EQ(reader.takePressesUntil(1e12), 0);
}

} // namespace
} // namespace quorvane::backends::input
