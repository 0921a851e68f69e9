#pragma once
// One V4L2 device node: opening it as an owned descriptor, ioctls that
// survive signals, and what the node can capture.
#include "io/UniqueFd.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::backends::v4l2 {

// Opens `path` for capture (read-write, non-blocking); errno tells why not.
io::UniqueFd openNode(const std::string& path);

// ioctl, repeated when a signal interrupts it. Returns its result; errno set.
int xioctl(int fd, unsigned long request, void* argument);

struct NodeInfo {
    std::string card;
    std::string busInfo;
    bool captures = false; // single-planar video capture with streaming
};
std::optional<NodeInfo> queryNode(int fd);

struct FrameSize {
    std::uint32_t pixelFormat = 0; // V4L2 four-character code
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<double> rates;                     // discrete frame rates
    std::optional<std::pair<double, double>> span; // continuous or stepwise: min, max
};

// Every (format, size) the node offers, in the driver's order; stepwise
// sizes are listed by their largest size.
std::vector<FrameSize> frameSizes(int fd);

} // namespace quorvane::backends::v4l2
