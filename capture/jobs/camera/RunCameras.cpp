#include "jobs/Jobs.h"
#include "platform/CameraDevices.h"
#include "shell/Output.h"

namespace quorvane::jobs {

void runCameras() {
    const auto found = platform::makeCameraDevices()->cameras();
    json::Array cameras(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        json::Object entry;
        entry["id"] = found[i].uniqueID;
        entry["name"] = found[i].localizedName;
        cameras[i] = std::move(entry);
    }
    json::Object result;
    result["ok"] = true;
    result["cameras"] = std::move(cameras);
    shell::finish(result);
}

} // namespace quorvane::jobs
