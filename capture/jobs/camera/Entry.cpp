// The module entries of this job folder, named in the dispatch table.
#include "jobs/Jobs.h"
#include "shell/JobModule.h"

using quorvane::jobs::Args;

extern "C" [[noreturn]] void quorvane_run_cameras(const Args&) {
    quorvane::jobs::runCameras();
}

extern "C" [[noreturn]] void quorvane_run_record_camera(const Args& rest) {
    quorvane::jobs::runRecordCamera(rest);
}
