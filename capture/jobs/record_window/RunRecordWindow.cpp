#include "jobs/Jobs.h"
#include "shell/Output.h"

namespace quorvane::jobs {

void runRecordWindow(const Args&) {
    shell::failWith("Quorvane cannot record a window yet: this job is not built.");
}

} // namespace quorvane::jobs
