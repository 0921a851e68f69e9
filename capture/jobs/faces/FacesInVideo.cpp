#include "jobs/faces/Faces.h"

#include "shell/UserError.h"
#include "text/Numbers.h"

#include <cmath>

namespace quorvane::jobs::faces {
namespace {

const std::string openFailure = "Quorvane could not open that video. ";

// A shown side as a whole number of pixels; a damaged track can make it
// infinite or too large for an integer.
std::int64_t wholePixels(double side) {
    const double rounded = text::roundHalfAwayFromZero(std::fabs(side), 0);
    if (!std::isfinite(rounded) || rounded >= 9223372036854775808.0)
        throw UserError(openFailure + "Its picture track has a damaged size.");
    return static_cast<std::int64_t>(rounded);
}

} // namespace

json::Object facesInVideo(const std::string& path, double every, std::int64_t maxFrames,
                          const VideoOpening& open, platform::FaceDetector& detector) {
    std::unique_ptr<platform::VideoSource> video;
    platform::ShownSize shown;
    double length = 0;
    try {
        video = open(path);
        length = video->duration();
        if (!video->hasPictureTrack()) throw UserError("That file has no picture to look at.");
        shown = video->shownSize();
    } catch (const platform::VideoError& e) {
        throw UserError(openFailure + e.what());
    }
    const std::int64_t width = wholePixels(shown.width);
    const std::int64_t height = wholePixels(shown.height);
    if (!(length > 0) || !std::isfinite(length)) throw UserError("That video has no length.");

    json::Array samples;
    for (std::int64_t i = 0; i < maxFrames; ++i) {
        // A product each time: summing the interval would drift.
        const double t = every * static_cast<double>(i);
        if (!(t < length)) break;
        const auto picture = video->pictureAt(t, maxFrameSide, maxFrameSide);
        if (!picture) continue; // no picture at this time: no sample
        json::Array faces;
        try {
            faces = detectFaces(detector, ImageRequest{*picture, std::nullopt});
        } catch (const platform::FaceDetectionError&) {
            // reported as a sample without faces
        }
        samples.emplace_back(
            faceSample(json::Decimal{text::roundHalfAwayFromZero(t, 3)}, std::move(faces)));
    }
    if (samples.empty()) throw UserError("Quorvane could not read any picture from that video.");
    return facesResult(json::Decimal{text::roundHalfAwayFromZero(length, 3)}, width, height, every,
                       std::move(samples));
}

} // namespace quorvane::jobs::faces
