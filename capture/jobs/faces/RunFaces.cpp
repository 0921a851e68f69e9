#include "jobs/Jobs.h"
#include "jobs/faces/Faces.h"
#include "jobs/faces/VideoProgress.h"
#include "runtime/Queue.h"
#include "shell/Option.h"
#include "shell/PlainFile.h"
#include "shell/Progress.h"
#include "shell/UserError.h"
#include "text/Numbers.h"

#include <cmath>
#include <string>
#include <sys/stat.h>

namespace quorvane::jobs {
namespace {

using namespace faces;

// The detectors of this run; one that cannot be made fails the job, since
// every look would fail. `failure` names what was to be looked at.
Detectors detectorsForRun(std::size_t count, const std::string& failure) {
    try {
        return platform::makeFaceDetectors(count);
    } catch (const platform::FaceDetectionError& e) {
        throw UserError(failure + e.what());
    }
}

// Any file or folder, as the user named it (symbolic links followed).
bool somethingExistsAt(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

void runFaces(const Args& rest) {
    try {
        if (rest.empty() || rest.front().starts_with("--"))
            throw UserError("usage: faces <video or image> [--every <seconds>] [--max <frames>]");
        const std::string path = rest.front();
        const double every =
            text::parseDouble(shell::option("--every", rest).value_or("0.5")).value_or(0.5);
        const std::int64_t maxFrames =
            text::parseInt64(shell::option("--max", rest).value_or("2400")).value_or(2400);
        if (!(every > 0) || !std::isfinite(every))
            throw UserError("The time between looks must be more than 0 seconds.");
        if (maxFrames < 1) throw UserError("The number of frames to look at must be at least 1.");
        if (!somethingExistsAt(path)) throw UserError("There is no file at " + path + ".");
        // A pipe, a folder or a device never reaches a decoder: a pipe with
        // no writer would keep it waiting forever.
        if (auto why = shell::whyNotReadable(path))
            throw UserError((isImageFile(path) ? "Quorvane could not open that picture. "
                                               : "Quorvane could not open that video. ") +
                            *why);

        if (isImageFile(path)) {
            const auto detectors =
                detectorsForRun(1, "Quorvane could not look for faces in that picture. ");
            printFaces(facesInImage(path, every, platform::readPicture, *detectors.front()));
        }
        runtime::startTask([path, every, maxFrames] {
            // Shown only to a person at a terminal; erased before the result.
            auto progress = shell::Progress::onStandardError();
            const VideoOpening open = [&](const std::string& file) {
                return reportingProgress(platform::openVideo(file), every, maxFrames,
                                         [&progress](double share) { progress.update(share); });
            };
            try {
                const auto detectors =
                    detectorsForRun(platform::faceDetectionWorkers(),
                                    "Quorvane could not look for faces in that video. ");
                const auto result = facesInVideo(path, every, maxFrames, open, detectors);
                progress.clear();
                printFaces(result);
            } catch (const UserError& e) {
                progress.clear();
                faceFail(e.what());
            }
        });
        runtime::runMainLoop();
    } catch (const UserError& e) {
        faceFail(e.what());
    }
}

} // namespace quorvane::jobs
