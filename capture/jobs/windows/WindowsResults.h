#pragma once
// The results of the `windows` and `screen-access` jobs, apart from how the
// jobs run, so that the order of the permission calls can be checked.
#include "jobs/Jobs.h"
#include "platform/ScreenCapture.h"
#include "json/Value.h"

namespace quorvane::jobs::windows {

struct JobResult {
    json::Object object;
    int status = 0;
};

// Lists the recordable windows; the permission state is asked only after a
// failed listing, to choose the message.
JobResult windowsResult(platform::ScreenCaptureService& service);

// `granted`, asking the system only when access is missing and the first
// word is exactly "ask".
JobResult screenAccessResult(platform::ScreenCaptureService& service, const Args& rest);

} // namespace quorvane::jobs::windows
