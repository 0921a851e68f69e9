#include "shell/Dispatch.h"

#include "jobs/Jobs.h"
#include "shell/HardwareProfile.h"
#include "shell/Output.h"

namespace quorvane::shell {

void dispatch(const std::vector<std::string>& argv) {
    const std::string command = argv.size() >= 2 ? argv[1] : "hardware";
    const std::vector<std::string> rest =
        argv.size() >= 3 ? std::vector<std::string>(argv.begin() + 2, argv.end())
                         : std::vector<std::string>{};

    if (command == "transcribe") jobs::runTranscribe(rest);
    if (command == "windows") jobs::runWindows();
    if (command == "record-window") jobs::runRecordWindow(rest);
    if (command == "screen-access") jobs::runScreenAccess(rest);
    if (command == "faces") jobs::runFaces(rest);
    if (command == "cameras") jobs::runCameras();
    if (command == "record-camera") jobs::runRecordCamera(rest);

    json::Object result;
    if (command == "hardware")
        result = {{"ok", true}, {"command", command}, {"hardware", hardwareProfile()}};
    else if (command == "version")
        result = {{"ok", true}, {"command", command}, {"version", "0.0.2"}};
    else
        result = {{"ok", false}, {"error", "unknown command " + command}};
    finish(result, 0);
}

} // namespace quorvane::shell
