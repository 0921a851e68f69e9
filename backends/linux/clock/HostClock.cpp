#include "platform/HostClock.h"

#include <ctime>

namespace quorvane::platform {

// V4L2 stamps camera frames on CLOCK_MONOTONIC, so window frames, pointer
// samples and sound are dated on it too.
double hostTimeNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace quorvane::platform
