// The module entries of this job folder, named in the dispatch table.
#include "jobs/Jobs.h"
#include "runtime/SignalSource.h"
#include "shell/JobBoundary.h"
#include "shell/JobModule.h"

using quorvane::jobs::Args;

extern "C" [[noreturn]] void quorvane_run_faces(const Args& rest) {
    quorvane::runtime::unblockStopSignals();
    quorvane::shell::runJob({"Quorvane could not look for faces in that file.", true},
                            [&] { quorvane::jobs::runFaces(rest); });
}
