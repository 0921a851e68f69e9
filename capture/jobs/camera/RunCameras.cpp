#include "jobs/Jobs.h"
#include "shell/Output.h"

namespace quorvane::jobs {

void runCameras() { shell::failWith("Quorvane cannot list cameras yet: this job is not built."); }

} // namespace quorvane::jobs
