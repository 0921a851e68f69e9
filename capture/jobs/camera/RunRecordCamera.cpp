#include "jobs/Jobs.h"
#include "shell/Output.h"

namespace quorvane::jobs {

void runRecordCamera(const Args&) { shell::failWith("Quorvane cannot record a camera yet: this job is not built."); }

} // namespace quorvane::jobs
