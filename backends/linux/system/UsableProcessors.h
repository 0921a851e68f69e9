#pragma once
// How many processors this process may run on: its affinity mask, so that
// `taskset -c 0` means one; the machine's count when the mask cannot be read.
#include <sched.h>
#include <thread>

namespace quorvane::backends::system {

inline int usableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    int count = 0;
    if (sched_getaffinity(0, sizeof set, &set) == 0) count = CPU_COUNT(&set);
    if (count <= 0) count = static_cast<int>(std::thread::hardware_concurrency());
    return count > 0 ? count : 1;
}

} // namespace quorvane::backends::system
