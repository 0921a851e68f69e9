#include "jobs/camera/CameraTimeline.h"

#include <algorithm>
#include <cmath>

namespace quorvane::jobs::camera {

double CameraTimeline::place(double stamp, double arrival) {
    const bool arrivalKnown = std::isfinite(arrival);
    double arrivalStep = 0;
    if (arrivalKnown && lastArrival_) arrivalStep = std::max(0.0, arrival - *lastArrival_);
    if (arrivalKnown) lastArrival_ = arrival;

    if (!lastPlaced_) {
        // The first picture fixes the timeline; a stamp that is not a
        // number is replaced by the arrival.
        double first = stamp;
        if (!std::isfinite(first)) {
            first = arrivalKnown ? arrival : 0.0;
        }
        lastPlaced_ = first;
        return first;
    }
    double placed = stamp + offset_;
    const bool jumped = !std::isfinite(placed) || placed <= *lastPlaced_ ||
                        placed - *lastPlaced_ > arrivalStep + largestGap;
    if (jumped) {
        placed = *lastPlaced_ + std::max(arrivalStep, smallestStep);
        // Later stamps keep this correction; a stamp that is not a number
        // leaves it as it was.
        if (std::isfinite(stamp)) offset_ = placed - stamp;
    }
    lastPlaced_ = placed;
    return placed;
}

} // namespace quorvane::jobs::camera
