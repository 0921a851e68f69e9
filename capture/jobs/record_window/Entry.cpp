// The module entry point of this job folder.
#include "jobs/Jobs.h"
#include "shell/JobBoundary.h"
#include "shell/JobModule.h"

void quorvane_job_entry(const std::string& command, const std::vector<std::string>& rest) {
    (void)command;
    using namespace quorvane;
    // record-window stops in order on SIGINT, SIGTERM and SIGHUP.
    shell::runJob({"The recording failed."}, [&] { jobs::runRecordWindow(rest); });
}
