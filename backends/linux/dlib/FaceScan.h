#pragma once
// dlib's HOG frontal-face scanning, built twice: for the baseline x86-64
// processor and for one with AVX2 and FMA, chosen at run time. No dlib
// header here.
#include "platform/Picture.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace quorvane::backends::facescan {

struct ScannedFace {
    // Fractions of the picture, top-left origin.
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    double score = 0; // the detector's raw score; 0 is its own threshold
};

class FaceScanner {
  public:
    virtual ~FaceScanner() = default;
    // Faces in the picture looked at `enlargement` (1 or more) times as
    // large, in the detector's order. Throws std::exception.
    virtual std::vector<ScannedFace> scan(const platform::Picture& picture, double enlargement) = 0;
};

// `count` scanners sharing one model (each used by one thread at a time).
// Throws std::exception.
std::vector<std::unique_ptr<FaceScanner>> makeBaselineScanners(std::size_t count);
// The same, built for AVX2 and FMA: call only when avx2Usable().
std::vector<std::unique_ptr<FaceScanner>> makeAvx2Scanners(std::size_t count);

// Whether this processor runs the AVX2 build.
bool avx2Usable();

} // namespace quorvane::backends::facescan
