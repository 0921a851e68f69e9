// The module entries of this job folder, named in the dispatch table.
#include "jobs/Jobs.h"
#include "runtime/SignalSource.h"
#include "shell/JobBoundary.h"
#include "shell/JobModule.h"

using quorvane::jobs::Args;

extern "C" [[noreturn]] void quorvane_run_transcribe(const Args& rest) {
    quorvane::runtime::unblockStopSignals();
    quorvane::shell::runJob({"Quorvane could not transcribe that file."},
                            [&] { quorvane::jobs::runTranscribe(rest); });
}
