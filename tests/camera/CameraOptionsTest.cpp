#include "jobs/camera/CameraOptions.h"
#include "jobs/camera/CamerasResult.h"
#include "shell/UserError.h"
#include "json/Writer.h"

#include <gtest/gtest.h>

using quorvane::UserError;
using namespace quorvane::jobs::camera;

TEST(CameraSize, ClampsToTheRangeAndMakesEven) {
    const std::pair<const char*, std::int64_t> cases[] = {
        {"100", 240},
        {"721", 720},
        {"1001", 1000},
        {"5000", 1440},
        {"abc", 720},
        {"-3", 240},
        {"240", 240},
        {"1440", 1440},
        {"+800", 800},
        {" 800", 720},
        {"800px", 720},
        {"", 720},
        {"99999999999999999999", 720},
        {"1439", 1438},
        {"241", 240},
    };
    for (const auto& [text, size] : cases)
        EXPECT_EQ(cameraSize(text), size) << text;
}

TEST(CameraOptions, ReadsEveryOptionWithItsDefault) {
    const auto plain = readCameraOptions({"--out", "a.mov"});
    EXPECT_EQ(plain.out, "a.mov");
    EXPECT_EQ(plain.size, 720);
    EXPECT_EQ(plain.maxSeconds, 600);
    EXPECT_FALSE(plain.camera.has_value());
    EXPECT_FALSE(plain.mic);

    const auto full = readCameraOptions({"--size", "1001", "--out", "b.mov", "--size", "300",
                                         "--camera", "usb-cam", "--max", "2.5"});
    EXPECT_EQ(full.out, "b.mov");
    EXPECT_EQ(full.size, 1000); // the first --size counts
    EXPECT_EQ(full.camera, "usb-cam");
    EXPECT_EQ(full.maxSeconds, 2.5);

    // --mic counts anywhere, even as another option's value.
    EXPECT_TRUE(readCameraOptions({"--out", "a.mov", "--mic"}).mic);
    const auto odd = readCameraOptions({"--camera", "--mic", "--out", "a.mov"});
    EXPECT_TRUE(odd.mic);
    EXPECT_EQ(odd.camera, "--mic");
}

TEST(CameraOptions, MaxIsClampedToOneSecondUpToADay) {
    const std::pair<const char*, double> cases[] = {
        {"0", 1},      {"-5", 1},    {"100000", 86400}, {"86400", 86400},
        {"1e3", 1000}, {"0x10", 16}, {"0.5", 1},
    };
    for (const auto& [text, seconds] : cases)
        EXPECT_EQ(readCameraOptions({"--out", "a.mov", "--max", text}).maxSeconds, seconds) << text;
}

TEST(CameraOptions, RefusesInTheOrderOfTheChecks) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "usage: record-camera --out <file> [--size 720] [--mic]"},
        {{"--size", "300"}, "usage: record-camera --out <file> [--size 720] [--mic]"},
        {{"--max", "ten", "--out"}, "usage: record-camera --out <file> [--size 720] [--mic]"},
        {{"--out", "a.mov", "--max", "inf"}, "--max must be a number of seconds."},
        {{"--out", "a.mov", "--max", "nan"}, "--max must be a number of seconds."},
        {{"--out", "a.mov", "--max", "-inf"}, "--max must be a number of seconds."},
        {{"--out", "a.mov", "--max", "ten"}, "--max must be a number of seconds."},
        {{"--out", "a.mov", "--max", " 5"}, "--max must be a number of seconds."},
        {{"--out", "a.mov", "--max", "1e999"}, "--max must be a number of seconds."},
        {{"--out", "a.mov", "--max"}, nullptr}, // a flag in last position has no value: the default
    };
    for (const auto& [args, message] : cases) {
        if (!message) {
            EXPECT_EQ(readCameraOptions(args).maxSeconds, 600);
            continue;
        }
        try {
            readCameraOptions(args);
            ADD_FAILURE() << "accepted " << ::testing::PrintToString(args);
        } catch (const UserError& error) {
            EXPECT_STREQ(error.what(), message) << ::testing::PrintToString(args);
        }
    }
}

TEST(CamerasResult, ListsCutAndLatin1NamesAsValidText) {
    // V4L2 cuts card names at 32 bytes, often inside a character.
    const std::string cut = "HD Pro Webcam C920 \xE2\x80\x94 Logitech \xC3";
    const std::string latin1 = "Cam\xE9ra int\xE9gr\xE9"
                               "e";
    std::vector<quorvane::platform::CaptureDevice> found(2);
    found[0].uniqueID = "usb-0000:00:14.0-1:" + cut;
    found[0].localizedName = cut;
    found[1].uniqueID = "usb-0000:00:14.0-2:" + latin1;
    found[1].localizedName = latin1;
    const auto line = quorvane::json::serialize(camerasResult(found));
    EXPECT_EQ(line, "{\"cameras\":["
                    "{\"id\":\"usb-0000:00:14.0-1:HD Pro Webcam C920 \xE2\x80\x94 Logitech "
                    "\xEF\xBF\xBD\",\"name\":\"HD Pro Webcam C920 \xE2\x80\x94 Logitech "
                    "\xEF\xBF\xBD\"},"
                    "{\"id\":\"usb-0000:00:14.0-2:Cam\xEF\xBF\xBDra int\xEF\xBF\xBDgr\xEF\xBF\xBD"
                    "e\",\"name\":\"Cam\xEF\xBF\xBDra int\xEF\xBF\xBDgr\xEF\xBF\xBD"
                    "e\"}],\"ok\":true}");
}
