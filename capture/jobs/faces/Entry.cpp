// The module entry point of this job folder.
#include "jobs/Jobs.h"
#include "runtime/SignalSource.h"
#include "shell/JobBoundary.h"
#include "shell/JobModule.h"

void quorvane_job_entry(const std::string& command, const std::vector<std::string>& rest) {
    (void)command;
    using namespace quorvane;
    runtime::unblockStopSignals();
    shell::runJob({"Quorvane could not look for faces in that file.", true},
                  [&] { jobs::runFaces(rest); });
}
