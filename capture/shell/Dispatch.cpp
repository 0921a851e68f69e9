#include "shell/Dispatch.h"

#include "runtime/SignalSource.h"
#include "shell/HardwareProfile.h"
#include "shell/JobModule.h"
#include "shell/Output.h"
#include "text/Utf8.h"

namespace quorvane::shell {

void dispatch(const std::vector<std::string>& argv) {
    const std::string command = argv.size() >= 2 ? argv[1] : "hardware";
    const std::vector<std::string> rest =
        argv.size() >= 3 ? std::vector<std::string>(argv.begin() + 2, argv.end())
                         : std::vector<std::string>{};

    // The dispatch table, in its order; each job is loaded from its module.
    if (command == "transcribe") runJobModule("transcribe", command, rest);
    if (command == "windows") runJobModule("windows", command, rest);
    if (command == "record-window") runJobModule("record-window", command, rest);
    if (command == "screen-access") runJobModule("windows", command, rest);
    if (command == "faces") runJobModule("faces", command, rest);
    if (command == "cameras") runJobModule("camera", command, rest);
    if (command == "record-camera") runJobModule("camera", command, rest);

    runtime::unblockStopSignals(); // nothing here to stop in order
    json::Object result;
    if (command == "hardware")
        result = {{"ok", true}, {"command", command}, {"hardware", hardwareProfile()}};
    else if (command == "version")
        result = {{"ok", true}, {"command", command}, {"version", "0.0.2"}};
    else
        result = {{"ok", false}, {"error", "unknown command " + text::validUtf8(command)}};
    finish(result, 0);
}

} // namespace quorvane::shell
