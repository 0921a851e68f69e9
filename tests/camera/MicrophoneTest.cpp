// The default microphone is looked for quietly: whatever this machine has
// (often no sound server and no sound card), nothing reaches standard error.
#include "v4l2/Microphone.h"

#include <gtest/gtest.h>

TEST(Microphone, LookingForTheDefaultOneSaysNothing) {
    ::testing::internal::CaptureStderr();
    const auto microphone = quorvane::backends::v4l2::findMicrophone();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    if (microphone) {
        EXPECT_TRUE(microphone->address == "pulse:default" ||
                    microphone->address == "alsa:default");
        EXPECT_EQ(microphone->uniqueID, microphone->address);
    }
}
