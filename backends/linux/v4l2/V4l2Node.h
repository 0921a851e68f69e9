#pragma once
// One V4L2 device node: an owned descriptor, ioctls that survive signals,
// and what the node can capture.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::backends::v4l2 {

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_ = -1;
};

// Opens `path` for capture (read-write, non-blocking); errno tells why not.
Fd openNode(const std::string& path);

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
