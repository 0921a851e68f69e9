// The module entries of this job folder, named in the dispatch table.
#include "jobs/Jobs.h"
#include "runtime/SignalSource.h"
#include "shell/JobBoundary.h"
#include "shell/JobModule.h"

using quorvane::jobs::Args;
namespace shell = quorvane::shell;

extern "C" [[noreturn]] void quorvane_run_cameras(const Args&) {
    quorvane::runtime::unblockStopSignals();
    shell::runJob({"Quorvane could not list the cameras."}, [] { quorvane::jobs::runCameras(); });
}

// record-camera stops in order on SIGINT, SIGTERM and SIGHUP.
extern "C" [[noreturn]] void quorvane_run_record_camera(const Args& rest) {
    shell::runJob({"The camera recording failed."}, [&] { quorvane::jobs::runRecordCamera(rest); });
}
