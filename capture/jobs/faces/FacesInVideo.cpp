#include "jobs/faces/Faces.h"

#include "jobs/faces/DetectionPool.h"

#include "shell/UserError.h"
#include "text/Numbers.h"

#include <cmath>
#include <memory>
#include <vector>

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
                          const VideoOpening& open, const Detectors& detectors) {
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

    // Pictures are taken here in time order; the pool examines them on its
    // threads. Whether a picture is examined or takes the last examined
    // one's faces is decided here alone, so the result is the same for any
    // number of workers.
    struct Taken {
        double t;
        std::size_t examined; // the pool's number of the picture whose faces it has
    };
    std::vector<Taken> taken;
    std::shared_ptr<const platform::Picture> lastExamined;
    std::size_t lastNumber = 0;
    std::vector<DetectionPool::Outcome> outcomes;
    {
        DetectionPool pool(detectors, frameEnlargement(shown.width, shown.height),
                           2 * detectors.size());
        for (std::int64_t i = 0; i < maxFrames; ++i) {
            // A product each time: summing the interval would drift.
            const double t = every * static_cast<double>(i);
            if (!(t < length)) break;
            auto picture = video->pictureAt(t, maxFrameSide, maxFrameSide);
            if (!picture) continue; // no picture at this time: no sample
            if (!lastExamined || !looksTheSame(*lastExamined, *picture)) {
                lastExamined = std::make_shared<const platform::Picture>(std::move(*picture));
                lastNumber = pool.submit(lastExamined);
            }
            taken.push_back(Taken{t, lastNumber});
        }
        outcomes = pool.finish();
    }

    json::Array samples;
    samples.reserve(taken.size());
    for (const auto& sample : taken) {
        const auto& outcome = outcomes[sample.examined];
        samples.emplace_back(faceSample(json::Decimal{text::roundHalfAwayFromZero(sample.t, 3)},
                                        outcome ? faceObjects(*outcome) : json::Array{}));
    }
    if (samples.empty()) throw UserError("Quorvane could not read any picture from that video.");
    return facesResult(json::Decimal{text::roundHalfAwayFromZero(length, 3)}, width, height, every,
                       std::move(samples));
}

} // namespace quorvane::jobs::faces
