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
    // Distance of the top edge (the box's largest y) from the top of the picture.
    const double top = 1 - std::max(box.y, box.y + box.height);
    // A box poking out of the picture is cut at the edge: the part outside
    // comes off its size, so its far edges stay where the face is.
    double width = notNegative(box.width);
    double height = notNegative(box.height);
    if (box.x < 0) width = notNegative(width + box.x);
    if (top < 0) height = notNegative(height + top);
    const double x = clampUnit(box.x);
    const double y = clampUnit(top);
    const double w = std::min(width, 1 - x);
    const double h = std::min(height, 1 - y);
    return json::Object{
        {"x", exactDecimal(x, 4)},
        {"y", exactDecimal(y, 4)},
        {"w", exactDecimal(w, 4)},
        {"h", exactDecimal(h, 4)},
        {"confidence", exactDecimal(static_cast<double>(observation.confidence), 3)},
    };
}

double enlargementFor(double longSide, double examinedSide, double most) {
    if (!(longSide > 0)) return 1;
    return std::clamp(examinedSide / longSide, 1.0, most);
}

double pictureEnlargement(const platform::Picture& picture) {
    return enlargementFor(std::max(picture.width, picture.height), stillExaminedSide,
                          mostStillEnlargement);
}

double frameEnlargement(double shownWidth, double shownHeight) {
    // Pictures are taken scaled down to fit maxFrameSide.
    const double longSide =
        std::min<double>(std::max(std::fabs(shownWidth), std::fabs(shownHeight)), maxFrameSide);
    return enlargementFor(longSide, frameExaminedSide, mostFrameEnlargement);
}

json::Array faceObjects(const std::vector<platform::FaceObservation>& observations) {
    json::Array faces;
    faces.reserve(observations.size());
    for (const auto& observation : observations)
        faces.emplace_back(faceObject(observation));
    return faces;
}

json::Array detectFaces(platform::FaceDetector& detector, const ImageRequest& request,
                        double enlargement) {
    const bool turned = request.orientation && *request.orientation != 1;
    if (!turned) return faceObjects(detector.detect(request.picture, enlargement));
    return faceObjects(
        detector.detect(uprightPicture(request.picture, *request.orientation), enlargement));
}

} // namespace quorvane::jobs::faces
