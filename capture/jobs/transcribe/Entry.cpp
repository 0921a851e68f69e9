// The module entries of this job folder, named in the dispatch table.
#include "jobs/Jobs.h"
#include "shell/JobModule.h"

using quorvane::jobs::Args;

extern "C" [[noreturn]] void quorvane_run_transcribe(const Args& rest) {
    quorvane::jobs::runTranscribe(rest);
}
