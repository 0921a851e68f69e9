#include "jobs/Jobs.h"
#include "jobs/camera/CamerasResult.h"
#include "shell/Output.h"

namespace quorvane::jobs {

void runCameras() {
    using namespace camera;
    shell::finish(camerasResult(platform::makeCameraDevices()->cameras()));
}

} // namespace quorvane::jobs
