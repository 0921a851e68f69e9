#pragma once
// The option rules of `record-camera`.
#include "jobs/Jobs.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace quorvane::jobs::camera {

struct CameraOptions {
    std::string out;
    std::int64_t size = 720;
    double maxSeconds = 600; // clamped to 1…86400
    std::optional<std::string> camera;
    bool mic = false;
};

// Edge length from the text of --size: unreadable text gives 720; the value
// is held within 240…1440 and made even. Never an error.
std::int64_t cameraSize(const std::string& text);

// Reads the options in the order their errors are reported. Throws UserError.
CameraOptions readCameraOptions(const Args& args);

} // namespace quorvane::jobs::camera
