#include "pictures/Decoders.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <new>

namespace quorvane::backends::pictures {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

// OpenCV reports running out of memory as its own exception; the job's
// boundary tells the user so only for std::bad_alloc.
std::optional<Picture> decodeWithOpenCv(const std::string& path) try {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    cv::Mat bgr;
    try {
        bgr = cv::imread(path, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
    if (bgr.empty() || bgr.type() != CV_8UC3) return std::nullopt;
    cv::Mat rgb;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    Picture out;
    out.width = rgb.cols;
    out.height = rgb.rows;
    out.rgb.resize(static_cast<std::size_t>(rgb.cols) * rgb.rows * 3);
    for (int row = 0; row < rgb.rows; ++row)
        std::copy_n(rgb.ptr<std::uint8_t>(row), static_cast<std::size_t>(rgb.cols) * 3,
                    out.rgb.data() + static_cast<std::size_t>(row) * rgb.cols * 3);
    return out;
} catch (const cv::Exception& e) {
    if (e.code == cv::Error::StsNoMem) throw std::bad_alloc();
    throw;
}

} // namespace quorvane::backends::pictures
