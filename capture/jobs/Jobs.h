#pragma once
// The entry points of the capture jobs. Each prints its objects and ends the
// process itself; none returns.
#include <string>
#include <vector>

namespace quorvane::jobs {

using Args = std::vector<std::string>;

[[noreturn]] void runTranscribe(const Args& rest);
[[noreturn]] void runWindows();
[[noreturn]] void runRecordWindow(const Args& rest);
[[noreturn]] void runScreenAccess(const Args& rest);
[[noreturn]] void runFaces(const Args& rest);
[[noreturn]] void runCameras();
[[noreturn]] void runRecordCamera(const Args& rest);

} // namespace quorvane::jobs
