// The module entry point of this job folder.
#include "jobs/Jobs.h"
#include "runtime/SignalSource.h"
#include "shell/JobBoundary.h"
#include "shell/JobModule.h"

void quorvane_job_entry(const std::string& command, const std::vector<std::string>& rest) {
    using namespace quorvane;
    if (command == "cameras") {
        runtime::unblockStopSignals();
        shell::runJob({"Quorvane could not list the cameras."}, [] { jobs::runCameras(); });
    }
    // record-camera stops in order on SIGINT, SIGTERM and SIGHUP.
    shell::runJob({"The camera recording failed."}, [&] { jobs::runRecordCamera(rest); });
}
