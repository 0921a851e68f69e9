// Picture times on the movie's timeline when the driver's clock misbehaves.
#include "jobs/camera/CameraTimeline.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using quorvane::jobs::camera::CameraTimeline;

namespace {

struct Picture {
    double stamp;
    double arrival;
    double placed;
};

struct Case {
    const char* name;
    std::vector<Picture> pictures;
};

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(CameraTimeline, KeepsGoodStampsAndMendsJumps) {
    const Case cases[] = {
        {"steady", {{10.0, 50.0, 10.0}, {10.1, 50.1, 10.1}, {10.2, 50.2, 10.2}}},
        // A long gap the arrivals confirm is kept as it is.
        {"real gap", {{10.0, 50.0, 10.0}, {18.0, 58.0, 18.0}, {18.1, 58.1, 18.1}}},
        // A gap with nobody to confirm it (a test clock) up to the limit.
        {"unconfirmed gap", {{10.0, 50.0, 10.0}, {12.5, 50.0, 12.5}}},
        // Back by 100 s: placed by the arrivals, and the correction stays.
        {"step back",
         {{10.0, 50.0, 10.0}, {10.1, 50.1, 10.1}, {-89.8, 50.2, 10.2}, {-89.7, 50.3, 10.3}}},
        // Ahead by an hour, the same.
        {"step ahead", {{10.0, 50.0, 10.0}, {3610.1, 50.1, 10.1}, {3610.2, 50.2, 10.2}}},
        // The same stamp twice: the second goes a little later, and so do
        // the ones after it.
        {"repeated stamp", {{10.0, 50.0, 10.0}, {10.0, 50.0, 10.001}, {10.1, 50.1, 10.101}}},
        // A stamp that is not a number takes its arrival's place.
        {"not a number", {{10.0, 50.0, 10.0}, {nan, 50.5, 10.5}, {11.0, 51.0, 11.0}}},
        {"first not a number", {{nan, 50.0, 50.0}, {nan, 50.1, 50.1}}},
        // Without a host clock the pictures still never go back.
        {"no arrival", {{10.0, nan, 10.0}, {5.0, nan, 10.001}, {5.1, nan, 10.101}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CameraTimeline timeline;
        double last = -std::numeric_limits<double>::infinity();
        for (const auto& p : c.pictures) {
            const double placed = timeline.place(p.stamp, p.arrival);
            EXPECT_NEAR(placed, p.placed, 1e-9) << "stamp " << p.stamp;
            EXPECT_GT(placed, last);
            last = placed;
        }
    }
}

} // namespace
