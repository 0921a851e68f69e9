#include "jobs/Jobs.h"
#include "shell/Output.h"

namespace quorvane::jobs {

void runWindows() { shell::failWith("Quorvane cannot list windows yet: this job is not built."); }

} // namespace quorvane::jobs
