// The platform's face detector: dlib's scanner in the build this processor
// runs best, its raw scores turned into confidences.
#include "platform/FaceDetector.h"

#include "dlib/FaceScan.h"
#include "system/UsableProcessors.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>

namespace quorvane::backends::dlib {
namespace {

using namespace platform;

using backends::facescan::FaceScanner;

// Raw scores map onto 0…1 by a logistic curve: real faces score 1 or more,
// false ones about 0.1.
constexpr double scoreSlope = 2.5;
constexpr double minimumConfidence = 0.7;

class DlibFaceDetector final : public FaceDetector {
  public:
    explicit DlibFaceDetector(std::unique_ptr<FaceScanner> scanner)
        : scanner_(std::move(scanner)) {}

    std::vector<FaceObservation> detect(const Picture& picture, double enlargement) override {
        const auto expected =
            static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3;
        if (picture.width <= 0 || picture.height <= 0 || picture.rgb.size() != expected)
            throw FaceDetectionError("The picture holds no pixels.");
        if (!(enlargement >= 1) || !std::isfinite(enlargement))
            throw FaceDetectionError("The picture cannot be looked at at that size.");
        try {
            return observations(scanner_->scan(picture, enlargement));
        } catch (const std::bad_alloc&) {
            throw FaceDetectionError("There is not enough memory to examine the picture.");
        } catch (const std::exception& e) {
            throw FaceDetectionError(e.what());
        }
    }

  private:
    static std::vector<FaceObservation>
    observations(const std::vector<backends::facescan::ScannedFace>& scanned) {
        std::vector<FaceObservation> faces;
        for (const auto& s : scanned) {
            const double confidence = 1.0 / (1.0 + std::exp(-scoreSlope * s.score));
            if (!(confidence > minimumConfidence)) continue;
            FaceObservation face;
            face.boundingBox = {s.left, 1 - s.top - s.height, s.width, s.height};
            face.confidence = static_cast<float>(confidence);
            faces.push_back(face);
        }
        return faces;
    }

    std::unique_ptr<FaceScanner> scanner_;
};

} // namespace
} // namespace quorvane::backends::dlib

namespace quorvane::platform {

using namespace backends::dlib;

std::vector<std::unique_ptr<FaceDetector>> makeFaceDetectors(std::size_t count) {
    try {
        auto scanners = backends::facescan::avx2Usable()
                            ? backends::facescan::makeAvx2Scanners(count)
                            : backends::facescan::makeBaselineScanners(count);
        std::vector<std::unique_ptr<FaceDetector>> detectors;
        for (auto& scanner : scanners)
            detectors.push_back(std::make_unique<DlibFaceDetector>(std::move(scanner)));
        return detectors;
    } catch (const std::bad_alloc&) {
        throw FaceDetectionError("There is not enough memory for the face detector.");
    } catch (const std::exception& e) {
        throw FaceDetectionError(e.what());
    }
}

std::size_t faceDetectionWorkers() {
    return static_cast<std::size_t>(backends::system::usableProcessors());
}

} // namespace quorvane::platform

namespace quorvane::backends::facescan {

bool avx2Usable() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

} // namespace quorvane::backends::facescan
