#include "v4l2/V4l2Node.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace quorvane::backends::v4l2 {

io::UniqueFd openNode(const std::string& path) {
    return io::UniqueFd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
}

int xioctl(int fd, unsigned long request, void* argument) {
    int r;
    do
        r = ::ioctl(fd, request, argument);
    while (r < 0 && errno == EINTR);
    return r;
}

namespace {

std::string fixedText(const unsigned char* text, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(text),
                       strnlen(reinterpret_cast<const char*>(text), size));
}

double rateOf(const v4l2_fract& interval) {
    return interval.numerator == 0 ? 0.0
                                   : static_cast<double>(interval.denominator) / interval.numerator;
}

void addRates(int fd, FrameSize& size) {
    v4l2_frmivalenum interval{};
    interval.pixel_format = size.pixelFormat;
    interval.width = size.width;
    interval.height = size.height;
    for (interval.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0;
         ++interval.index) {
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            size.rates.push_back(rateOf(interval.discrete));
        } else {
            // The longest interval is the lowest rate.
            size.span = {rateOf(interval.stepwise.max), rateOf(interval.stepwise.min)};
            break;
        }
    }
}

} // namespace

std::optional<NodeInfo> queryNode(int fd) {
    v4l2_capability cap{};
    if (xioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) return std::nullopt;
    const std::uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    NodeInfo info;
    info.card = fixedText(cap.card, sizeof cap.card);
    info.busInfo = fixedText(cap.bus_info, sizeof cap.bus_info);
    // Metadata nodes of the same camera lack VIDEO_CAPTURE.
    info.captures = (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
    return info;
}

std::vector<FrameSize> frameSizes(int fd) {
    std::vector<FrameSize> sizes;
    v4l2_fmtdesc format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (format.index = 0; xioctl(fd, VIDIOC_ENUM_FMT, &format) == 0; ++format.index) {
        v4l2_frmsizeenum frame{};
        frame.pixel_format = format.pixelformat;
        for (frame.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &frame) == 0; ++frame.index) {
            FrameSize size;
            size.pixelFormat = format.pixelformat;
            if (frame.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                size.width = frame.discrete.width;
                size.height = frame.discrete.height;
            } else {
                size.width = frame.stepwise.max_width;
                size.height = frame.stepwise.max_height;
            }
            addRates(fd, size);
            sizes.push_back(std::move(size));
            if (frame.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
        }
    }
    return sizes;
}

} // namespace quorvane::backends::v4l2
