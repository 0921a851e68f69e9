#pragma once
// Finds frontal faces in an upright picture.
#include "platform/Picture.h"

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
    // The faces of `picture` in the detector's own order. Throws FaceDetectionError.
    virtual std::vector<FaceObservation> detect(const Picture& picture) = 0;
};

// The detector of this system. Costly to create: make one per run.
std::unique_ptr<FaceDetector> makeFaceDetector();

} // namespace quorvane::platform
