#include "jobs/faces/Faces.h"

#include "text/Numbers.h"

#include <algorithm>
#include <cmath>

namespace quorvane::jobs::faces {
namespace {

// Into 0…1; a negative value or one that is not a number becomes 0.
double clampUnit(double v) {
    if (!(v > 0)) return 0;
    return std::min(v, 1.0);
}

double notNegative(double v) {
    return v > 0 ? v : 0;
}

// The rounded value as an exact decimal. Its shortest text always reads back
// when finite; otherwise the unrounded value stands.
json::Decimal exactDecimal(double unrounded, int places) {
    const double rounded = text::roundHalfAwayFromZero(unrounded, places);
    return json::Decimal{std::isfinite(rounded) ? rounded : unrounded};
}

} // namespace

json::Object faceObject(const platform::FaceObservation& observation) {
    const auto& box = observation.boundingBox;
    const double x = clampUnit(box.x);
    // The top edge is the box's largest y; from it, the distance from the top.
    const double y = clampUnit(1 - std::max(box.y, box.y + box.height));
    const double w = std::min(notNegative(box.width), 1 - x);
    const double h = std::min(notNegative(box.height), 1 - y);
    return json::Object{
        {"x", exactDecimal(x, 4)},
        {"y", exactDecimal(y, 4)},
        {"w", exactDecimal(w, 4)},
        {"h", exactDecimal(h, 4)},
        {"confidence", exactDecimal(static_cast<double>(observation.confidence), 3)},
    };
}

json::Array detectFaces(platform::FaceDetector& detector, const ImageRequest& request) {
    const bool turned = request.orientation && *request.orientation != 1;
    const auto observations =
        turned ? detector.detect(uprightPicture(request.picture, *request.orientation))
               : detector.detect(request.picture);
    json::Array faces;
    faces.reserve(observations.size());
    for (const auto& observation : observations)
        faces.emplace_back(faceObject(observation));
    return faces;
}

} // namespace quorvane::jobs::faces
