// The module entry point of this job folder.
#include "jobs/Jobs.h"
#include "runtime/SignalSource.h"
#include "shell/JobBoundary.h"
#include "shell/JobModule.h"

void quorvane_job_entry(const std::string& command, const std::vector<std::string>& rest) {
    using namespace quorvane;
    runtime::unblockStopSignals();
    if (command == "windows")
        shell::runJob({"Quorvane could not list the windows."}, [] { jobs::runWindows(); });
    shell::runJob({"Quorvane could not check screen recording access."},
                  [&] { jobs::runScreenAccess(rest); });
}
