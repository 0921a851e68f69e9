// The module entries of this job folder, named in the dispatch table.
#include "jobs/Jobs.h"
#include "runtime/SignalSource.h"
#include "shell/JobBoundary.h"
#include "shell/JobModule.h"

using quorvane::jobs::Args;

extern "C" [[noreturn]] void quorvane_run_windows(const Args&) {
    quorvane::runtime::unblockStopSignals();
    quorvane::shell::runJob({"Quorvane could not list the windows."},
                            [] { quorvane::jobs::runWindows(); });
}

extern "C" [[noreturn]] void quorvane_run_screen_access(const Args& rest) {
    quorvane::runtime::unblockStopSignals();
    quorvane::shell::runJob({"Quorvane could not check screen recording access."},
                            [&] { quorvane::jobs::runScreenAccess(rest); });
}
