#include "jobs/camera/CameraRecording.h"
#include "shell/Output.h"

#include <chrono>

namespace quorvane::jobs::camera {

CameraRecordingServices CameraRecordingServices::system() {
    return {
        .makeSession = platform::makeCaptureSession,
        .openWriter = platform::openMovieWriter,
        .hostTime = platform::hostTimeNow,
        .wallTime =
            [] {
                return std::chrono::duration<double>(
                           std::chrono::system_clock::now().time_since_epoch())
                    .count();
            },
        .print = shell::printObject,
        .end = [](const json::Object& object, int status) { shell::finish(object, status); },
    };
}

} // namespace quorvane::jobs::camera
