#include "jobs/Jobs.h"
#include "shell/Output.h"

namespace quorvane::jobs {

void runFaces(const Args&) { shell::failWith("Quorvane cannot find faces yet: this job is not built."); }

} // namespace quorvane::jobs
