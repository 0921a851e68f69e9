#include "jobs/Jobs.h"
#include "shell/Output.h"

namespace quorvane::jobs {

void runTranscribe(const Args&) { shell::failWith("Quorvane cannot transcribe speech yet: this job is not built."); }

} // namespace quorvane::jobs
