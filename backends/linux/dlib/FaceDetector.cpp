// dlib's HOG frontal face detector. dlib's headers are heavy: keep them to
// this one file.
#include "platform/FaceDetector.h"

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_transforms.h>

#include <algorithm>
#include <cmath>
#include <exception>

namespace quorvane::platform {
namespace {

// Pictures whose long side is at most this are looked at twice as large, so
// that faces of about 40 px reach the detector's 80-px window.
constexpr int upsampleLimit = 1000;

// Raw scores map onto 0…1 by a logistic curve: real faces score 1 or more,
// false ones about 0.1.
constexpr double scoreSlope = 2.5;
constexpr double minimumConfidence = 0.7;

class DlibFaceDetector final : public FaceDetector {
  public:
    DlibFaceDetector() : detector_(dlib::get_frontal_face_detector()) {}

    std::vector<FaceObservation> detect(const Picture& picture) override {
        const auto expected =
            static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3;
        if (picture.width <= 0 || picture.height <= 0 || picture.rgb.size() != expected)
            throw FaceDetectionError("The picture holds no pixels.");
        try {
            return find(picture);
        } catch (const std::bad_alloc&) {
            throw FaceDetectionError("There is not enough memory to examine the picture.");
        } catch (const std::exception& e) {
            throw FaceDetectionError(e.what());
        }
    }

  private:
    std::vector<FaceObservation> find(const Picture& picture) {
        dlib::array2d<dlib::rgb_pixel> image(picture.height, picture.width);
        const std::uint8_t* p = picture.rgb.data();
        for (int row = 0; row < picture.height; ++row)
            for (int col = 0; col < picture.width; ++col, p += 3)
                image[row][col] = dlib::rgb_pixel(p[0], p[1], p[2]);

        double scale = 1;
        if (std::max(picture.width, picture.height) <= upsampleLimit) {
            dlib::pyramid_up(image);
            scale = 2;
        }
        std::vector<dlib::rect_detection> detections;
        detector_(image, detections, 0.0);

        const double width = picture.width * scale;
        const double height = picture.height * scale;
        std::vector<FaceObservation> faces;
        for (const auto& d : detections) {
            const double confidence = 1.0 / (1.0 + std::exp(-scoreSlope * d.detection_confidence));
            if (!(confidence > minimumConfidence)) continue;
            const auto& r = d.rect; // inclusive pixel corners, top-left origin
            const double boxWidth = static_cast<double>(r.right() - r.left() + 1) / width;
            const double boxHeight = static_cast<double>(r.bottom() - r.top() + 1) / height;
            const double top = static_cast<double>(r.top()) / height;
            FaceObservation face;
            face.boundingBox = {static_cast<double>(r.left()) / width, 1 - top - boxHeight,
                                boxWidth, boxHeight};
            face.confidence = static_cast<float>(confidence);
            faces.push_back(face);
        }
        return faces;
    }

    dlib::frontal_face_detector detector_;
};

} // namespace

std::unique_ptr<FaceDetector> makeFaceDetector() {
    try {
        return std::make_unique<DlibFaceDetector>();
    } catch (const std::exception& e) {
        throw FaceDetectionError(e.what());
    }
}

} // namespace quorvane::platform
