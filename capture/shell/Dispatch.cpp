#include "shell/Dispatch.h"

#include "runtime/SignalSource.h"
#include "shell/BuildInfo.h"
#include "shell/HardwareProfile.h"
#include "shell/JobModule.h"
#include "shell/Output.h"
#include "text/Utf8.h"

namespace quorvane::shell {
namespace {

// One row of the dispatch table: the command word, the module that holds its
// job, and the entry that module exports for it.
struct JobRow {
    std::string_view word;
    std::string_view module;
    const char* entry;
};

// The dispatch table, walked in its order; the first matching word runs.
// "hardware", "version" and unknown words are answered here.
constexpr JobRow jobTable[] = {
    {"transcribe", "transcribe", "quorvane_run_transcribe"},
    {"windows", "windows", "quorvane_run_windows"},
    {"record-window", "record-window", "quorvane_run_record_window"},
    {"screen-access", "windows", "quorvane_run_screen_access"},
    {"faces", "faces", "quorvane_run_faces"},
    {"cameras", "camera", "quorvane_run_cameras"},
    {"record-camera", "camera", "quorvane_run_record_camera"},
};

} // namespace

void dispatch(const std::vector<std::string>& argv) {
    const std::string command = argv.size() >= 2 ? argv[1] : "hardware";
    const std::vector<std::string> rest =
        argv.size() >= 3 ? std::vector<std::string>(argv.begin() + 2, argv.end())
                         : std::vector<std::string>{};

    for (const auto& row : jobTable)
        if (command == row.word) runJobModule(row.module, row.entry, rest);

    runtime::unblockStopSignals(); // nothing here to stop in order
    json::Object result;
    if (command == "hardware")
        result = {{"ok", true}, {"command", command}, {"hardware", hardwareProfile()}};
    else if (command == "version")
        result = {{"ok", true}, {"command", command}, {"version", std::string(programVersion())}};
    else
        result = {{"ok", false}, {"error", "unknown command " + text::validUtf8(command)}};
    finish(result, 0);
}

} // namespace quorvane::shell
