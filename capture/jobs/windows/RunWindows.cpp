#include "jobs/Jobs.h"
#include "jobs/windows/DesktopScreenCapture.h"
#include "jobs/windows/WindowsResults.h"
#include "runtime/Queue.h"
#include "shell/Output.h"

namespace quorvane::jobs {

void runWindows() {
    using namespace windows;
    // The listing waits on the display server, so it runs as a task while
    // the main thread serves its run loop; the task ends the process.
    runtime::startTask([] {
        const auto service = desktopScreenCapture();
        const JobResult result = windowsResult(*service);
        shell::finish(result.object, result.status);
    });
    runtime::runMainLoop();
}

} // namespace quorvane::jobs
