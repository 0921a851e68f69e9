#pragma once
#include <ctime>

namespace quorvane::backends::x11 {

// CLOCK_MONOTONIC in seconds: the host clock that stamps captured frames and
// pointer samples alike.
inline double monotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

} // namespace quorvane::backends::x11
