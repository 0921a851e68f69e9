#include "jobs/windows/RealWindows.h"
#include "FakeScreenCapture.h"
#include "json/Writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quorvane::jobs::windows {
namespace {

using testing::FakeScreenCapture;
using testing::window;

std::vector<std::uint32_t> ids(const std::vector<platform::Window>& windows) {
    std::vector<std::uint32_t> result;
    for (const auto& w : windows)
        result.push_back(w.windowID);
    return result;
}

TEST(RealWindows, KeepsOnlyOrdinaryLargeNamedWindowsInListedOrder) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    FakeScreenCapture service;
    service.windows = {
        window(1, 240, 160),                                      // exactly the limits: kept
        window(2, 239.5, 800),                                    // too narrow
        window(3, 800, 159.99),                                   // too low
        window(4, nan, 600),                                      // width not a number
        window(5, 600, nan),                                      // height not a number
        window(6, 800, 600, ""),                                  // application without a name
        window(7, 800, 600, std::nullopt),                        // no application
        window(8, 800, 600, "App", 3),                            // floating layer
        window(9, 800, 600, "App", -1),                           // below the ordinary layer
        window(10, 5000, 4000, "Other", 0),                       // large: kept
        window(11, 300.9, 160.5, "App", 0),                       // fractional: kept
        window(12, std::numeric_limits<double>::infinity(), 300), // kept: not below the limit
    };
    EXPECT_EQ(ids(realWindows(service)), (std::vector<std::uint32_t>{1, 10, 11, 12}));
    EXPECT_EQ(service.preflights, 0);
}

TEST(RealWindows, PassesOnTheServiceFailure) {
    FakeScreenCapture service;
    service.failure = "the display went away";
    EXPECT_THROW(realWindows(service), platform::ScreenCaptureError);
}

TEST(Describe, HasExactlyTheFiveKeysWithSizesTruncated) {
    const auto described = describe(window(4294967295u, 300.99, 160.5, "Files", 0, "Grüße"));
    EXPECT_EQ(json::serialize(described),
              R"({"app":"Files","height":160,"id":4294967295,"title":"Grüße","width":300})");
}

TEST(Describe, MissingTitleAndApplicationAreEmptyStrings) {
    EXPECT_EQ(json::serialize(describe(window(7, 240, 160, std::nullopt))),
              R"({"app":"","height":160,"id":7,"title":"","width":240})");
}

TEST(Describe, SizesThatAreNotFiniteDoNotCrash) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(json::serialize(describe(window(1, nan, -0.5))),
              R"({"app":"App","height":0,"id":1,"title":"","width":0})");
    EXPECT_EQ(
        json::serialize(describe(window(1, 1e300, -1e300))),
        R"({"app":"App","height":-9223372036854775808,"id":1,"title":"","width":9223372036854775807})");
}

} // namespace
} // namespace quorvane::jobs::windows
