#include "jobs/record_window/RecordWindowOptions.h"

#include "shell/Option.h"
#include "shell/PlainFile.h"
#include "text/Numbers.h"
#include "text/Utf8.h"

#include <algorithm>
#include <cmath>

namespace quorvane::jobs::record_window {

std::optional<Options> readOptions(const std::vector<std::string>& args) {
    const auto out = shell::option("--out", args);
    if (!out || out->empty()) return std::nullopt;
    Options o;
    o.out = *out;
    o.app = shell::option("--app", args);
    if (const auto id = shell::option("--window-id", args)) o.windowId = text::parseUInt32(*id);
    std::int64_t fps = 30;
    if (const auto text = shell::option("--fps", args)) fps = text::parseInt64(*text).value_or(30);
    o.fps = static_cast<int>(std::clamp<std::int64_t>(fps, 5, 60));
    if (const auto text = shell::option("--max", args))
        o.maxSeconds = text::parseDouble(*text).value_or(600);
    o.cursor = !shell::hasSwitch("--no-cursor", args);
    return o;
}

std::optional<std::string> outFailure(const std::string& out) {
    const auto why = shell::whyNotWritable(out);
    if (!why) return std::nullopt;
    return "The recording could not start. Quorvane cannot write the movie " +
           text::validUtf8(out) + ". " + *why;
}

std::optional<std::chrono::nanoseconds> durationDeadline(double maxSeconds) {
    if (std::isnan(maxSeconds)) return std::nullopt;
    if (maxSeconds <= 0) return std::chrono::nanoseconds{0};
    // About 292 years of nanoseconds fit; longer means never.
    if (maxSeconds >= 9.0e9) return std::nullopt;
    return std::chrono::nanoseconds{static_cast<std::int64_t>(std::llround(maxSeconds * 1e9))};
}

} // namespace quorvane::jobs::record_window
