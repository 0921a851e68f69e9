#include "jobs/Jobs.h"
#include "jobs/windows/DesktopScreenCapture.h"
#include "jobs/windows/WindowsResults.h"
#include "shell/Output.h"

namespace quorvane::jobs {

void runScreenAccess(const Args& rest) {
    using namespace windows;
    const auto service = desktopScreenCapture();
    const JobResult result = screenAccessResult(*service, rest);
    shell::finish(result.object, result.status);
}

} // namespace quorvane::jobs
