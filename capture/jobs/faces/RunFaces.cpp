#include "jobs/Jobs.h"
#include "jobs/faces/Faces.h"
#include "jobs/faces/VideoProgress.h"
#include "runtime/Queue.h"
#include "shell/Option.h"
#include "shell/Progress.h"
#include "shell/UserError.h"
#include "text/Numbers.h"

#include <cmath>
#include <string>
#include <sys/stat.h>

namespace quorvane::jobs {
namespace {

using namespace faces;

// Stands in when the detector cannot be made: every look then fails with
// the reason, as a failed detection does.
class UnavailableDetector final : public platform::FaceDetector {
  public:
    explicit UnavailableDetector(std::string reason) : reason_(std::move(reason)) {}
    std::vector<platform::FaceObservation> detect(const platform::Picture&) override {
        throw platform::FaceDetectionError(reason_);
    }

  private:
    std::string reason_;
};

std::unique_ptr<platform::FaceDetector> detectorForRun() {
    try {
        return platform::makeFaceDetector();
    } catch (const platform::FaceDetectionError& e) {
        return std::make_unique<UnavailableDetector>(e.what());
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

        if (isImageFile(path)) {
            const auto detector = detectorForRun();
            printFaces(facesInImage(path, every, platform::readPicture, *detector));
        }
        runtime::startTask([path, every, maxFrames] {
            // Shown only to a person at a terminal; erased before the result.
            auto progress = shell::Progress::onStandardError();
            const VideoOpening open = [&](const std::string& file) {
                return reportingProgress(platform::openVideo(file), every, maxFrames,
                                         [&progress](double share) { progress.update(share); });
            };
            try {
                const auto detector = detectorForRun();
                const auto result = facesInVideo(path, every, maxFrames, open, *detector);
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
