// The module entry point of this job folder.
#include "jobs/Jobs.h"
#include "shell/JobModule.h"

void quorvane_job_entry(const std::string& command, const std::vector<std::string>& rest) {
    if (command == "windows") quorvane::jobs::runWindows();
    quorvane::jobs::runScreenAccess(rest);
}
