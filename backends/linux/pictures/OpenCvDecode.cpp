#include "pictures/Decoders.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <new>

namespace quorvane::backends::pictures {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

Picture fittedPicture(const std::uint8_t* rows, int width, int height, std::size_t stride,
                      ChannelOrder order, int maxSide) {
    // OpenCV only reads through this header; the decoder's buffer stays untouched.
    const cv::Mat in(height, width, CV_8UC3, const_cast<std::uint8_t*>(rows), stride);
    const double scale =
        std::min(1.0, static_cast<double>(maxSide) / static_cast<double>(std::max(width, height)));
    Picture out;
    out.width = scale < 1 ? std::max(1, static_cast<int>(std::lround(width * scale))) : width;
    out.height = scale < 1 ? std::max(1, static_cast<int>(std::lround(height * scale))) : height;
    out.rgb.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 3);
    // OpenCV writes straight into the picture's buffer: its size and type match.
    cv::Mat packed(out.height, out.width, CV_8UC3, out.rgb.data());
    if (scale < 1 && order == ChannelOrder::bgr) {
        cv::Mat small;
        cv::resize(in, small, packed.size(), 0, 0, cv::INTER_AREA);
        cv::cvtColor(small, packed, cv::COLOR_BGR2RGB);
    } else if (scale < 1) {
        cv::resize(in, packed, packed.size(), 0, 0, cv::INTER_AREA);
    } else if (order == ChannelOrder::bgr) {
        cv::cvtColor(in, packed, cv::COLOR_BGR2RGB);
    } else {
        in.copyTo(packed);
    }
    if (packed.data != out.rgb.data()) // never expected; keep the pixels anyway
        std::copy_n(packed.ptr<std::uint8_t>(0), out.rgb.size(), out.rgb.data());
    return out;
}

std::optional<StoredPicture> decodeWithOpenCv(const std::string& path, int maxSide) {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    try {
        const cv::Mat bgr = cv::imread(path, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
        if (bgr.empty() || bgr.type() != CV_8UC3) return std::nullopt;
        StoredPicture out;
        out.width = bgr.cols;
        out.height = bgr.rows;
        out.pixels = fittedPicture(bgr.ptr<std::uint8_t>(0), bgr.cols, bgr.rows, bgr.step[0],
                                   ChannelOrder::bgr, maxSide);
        return out;
    } catch (const cv::Exception& e) {
        // OpenCV reports running out of memory as its own exception; the job's
        // boundary tells the user so only for std::bad_alloc.
        if (e.code == cv::Error::StsNoMem) throw std::bad_alloc();
        return std::nullopt;
    }
}

} // namespace quorvane::backends::pictures
