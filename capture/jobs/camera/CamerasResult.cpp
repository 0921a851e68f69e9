#include "jobs/camera/CamerasResult.h"

#include "text/Utf8.h"

namespace quorvane::jobs::camera {

json::Object camerasResult(const std::vector<platform::CaptureDevice>& found) {
    json::Array cameras(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        json::Object entry;
        entry["id"] = text::validUtf8(found[i].uniqueID);
        entry["name"] = text::validUtf8(found[i].localizedName);
        cameras[i] = std::move(entry);
    }
    json::Object result;
    result["ok"] = true;
    result["cameras"] = std::move(cameras);
    return result;
}

} // namespace quorvane::jobs::camera
