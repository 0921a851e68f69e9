#include "jobs/windows/RealWindows.h"

#include "text/Utf8.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace quorvane::jobs::windows {
namespace {

constexpr double kMinimumWidth = 240;
constexpr double kMinimumHeight = 160;

// Truncates toward zero; a size that is not a finite number of points is
// reported as 0 rather than left to undefined conversion.
std::int64_t truncatedSize(double points) {
    if (!std::isfinite(points)) return 0;
    constexpr double limit = 9.2e18; // inside the range of a signed 64-bit integer
    if (points >= limit) return std::numeric_limits<std::int64_t>::max();
    if (points <= -limit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(std::trunc(points));
}

} // namespace

bool isRecordable(const platform::Window& window) {
    if (window.windowLayer != 0) return false;
    // Written so that NaN fails each size test.
    if (!(window.frame.width >= kMinimumWidth)) return false;
    if (!(window.frame.height >= kMinimumHeight)) return false;
    return window.owningApplication && !window.owningApplication->applicationName.empty();
}

std::vector<platform::Window> realWindows(platform::ScreenCaptureService& service) {
    std::vector<platform::Window> kept;
    for (auto& window : service.shareableWindows()) {
        if (isRecordable(window)) kept.push_back(std::move(window));
    }
    return kept;
}

json::Object describe(const platform::Window& window) {
    return {
        {"id", json::Value(static_cast<long long>(window.windowID))},
        {"app", text::validUtf8(window.owningApplication ? window.owningApplication->applicationName
                                                         : "")},
        {"title", text::validUtf8(window.title.value_or(""))},
        {"width", json::Value(static_cast<long long>(truncatedSize(window.frame.width)))},
        {"height", json::Value(static_cast<long long>(truncatedSize(window.frame.height)))},
    };
}

} // namespace quorvane::jobs::windows
