#pragma once
// Finds frontal faces in an upright picture.
#include "platform/Picture.h"

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <vector>

namespace quorvane::platform {

// The detector could not examine a picture; what() describes why.
class FaceDetectionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A rectangle in fractions of the picture, origin at the lower-left corner,
// y growing upward.
struct NormalizedRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

struct FaceObservation {
    NormalizedRect boundingBox;
    float confidence = 0; // 0 to 1
};

class FaceDetector {
  public:
    virtual ~FaceDetector() = default;
    // The faces of `picture` in the detector's own order, the picture looked
    // at `enlargement` (1 or more) times as large: faces smaller than the
    // detector's window are found only in an enlarged picture. Not to be
    // called from two threads at once. Throws FaceDetectionError.
    virtual std::vector<FaceObservation> detect(const Picture& picture, double enlargement) = 0;
};

// `count` (at least one) detectors of this system, one for each thread that
// looks for faces at the same time. Costly: make them once per run.
// Throws FaceDetectionError.
std::vector<std::unique_ptr<FaceDetector>> makeFaceDetectors(std::size_t count);

// How many detectors are worth running at once: the processors this process
// may run on (so `taskset -c 0` means one), at least 1.
std::size_t faceDetectionWorkers();

} // namespace quorvane::platform
