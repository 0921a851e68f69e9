// The module entries of this job folder, named in the dispatch table.
#include "jobs/Jobs.h"
#include "shell/JobBoundary.h"
#include "shell/JobModule.h"

using quorvane::jobs::Args;

// record-window stops in order on SIGINT, SIGTERM and SIGHUP.
extern "C" [[noreturn]] void quorvane_run_record_window(const Args& rest) {
    quorvane::shell::runJob({"The recording failed."},
                            [&] { quorvane::jobs::runRecordWindow(rest); });
}
