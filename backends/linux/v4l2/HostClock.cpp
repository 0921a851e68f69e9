#include "platform/CaptureSession.h"

#include <ctime>

namespace quorvane::platform {

// V4L2 stamps frames on CLOCK_MONOTONIC; everything else is dated on it too.
double hostTimeNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace quorvane::platform
