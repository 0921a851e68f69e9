#include "jobs/Jobs.h"
#include "shell/Output.h"

namespace quorvane::jobs {

void runScreenAccess(const Args&) { shell::failWith("Quorvane cannot check screen access yet: this job is not built."); }

} // namespace quorvane::jobs
