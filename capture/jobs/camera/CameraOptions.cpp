#include "jobs/camera/CameraOptions.h"

#include "shell/Option.h"
#include "shell/UserError.h"
#include "text/Numbers.h"

#include <algorithm>
#include <cmath>

namespace quorvane::jobs::camera {

std::int64_t cameraSize(const std::string& text) {
    const auto parsed = text::parseInt64(text);
    if (!parsed) return 720;
    return std::clamp<std::int64_t>(*parsed, 240, 1440) & ~std::int64_t{1};
}

CameraOptions readCameraOptions(const Args& args) {
    CameraOptions options;
    auto out = shell::option("--out", args);
    if (!out) throw UserError("usage: record-camera --out <file> [--size 720] [--mic]");
    options.out = std::move(*out);
    options.size = cameraSize(shell::option("--size", args).value_or("720"));
    const auto max = text::parseDouble(shell::option("--max", args).value_or("600"));
    if (!max || !std::isfinite(*max)) throw UserError("--max must be a number of seconds.");
    options.maxSeconds = std::clamp(*max, 1.0, 86400.0);
    options.camera = shell::option("--camera", args);
    options.mic = shell::hasSwitch("--mic", args);
    return options;
}

} // namespace quorvane::jobs::camera
