#pragma once
#include "platform/CameraDevices.h"
#include "json/Value.h"

#include <vector>

namespace quorvane::jobs::camera {

// The cameras job's result: `ok` true and `cameras`, each with its `id` and
// `name` as valid text.
json::Object camerasResult(const std::vector<platform::CaptureDevice>& found);

} // namespace quorvane::jobs::camera
