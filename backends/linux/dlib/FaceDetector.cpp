// dlib's HOG frontal face detector. dlib's headers are heavy: keep them to
// this one file.
#include "platform/FaceDetector.h"
#include "system/UsableProcessors.h"

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_transforms.h>

#include <algorithm>
#include <cmath>
#include <exception>

namespace quorvane::platform {
namespace {

// A picture's pixels seen by dlib in place: Picture rows are packed 8-bit
// red, green, blue, exactly dlib's rgb_pixel, so no copy is made. dlib finds
// these functions by argument-dependent lookup.
struct PictureView {
    const Picture* picture = nullptr;
};

long num_rows(const PictureView& v) {
    return v.picture->height;
}
long num_columns(const PictureView& v) {
    return v.picture->width;
}
const void* image_data(const PictureView& v) {
    return v.picture->rgb.data();
}
long width_step(const PictureView& v) {
    return static_cast<long>(v.picture->width) * 3;
}

} // namespace
} // namespace quorvane::platform

namespace dlib {

template <> struct image_traits<quorvane::platform::PictureView> { using pixel_type = rgb_pixel; };

} // namespace dlib

namespace quorvane::platform {
namespace {

static_assert(sizeof(dlib::rgb_pixel) == 3, "rgb_pixel must match the packed picture layout");

// Raw scores map onto 0…1 by a logistic curve: real faces score 1 or more,
// false ones about 0.1.
constexpr double scoreSlope = 2.5;
constexpr double minimumConfidence = 0.7;

class DlibFaceDetector final : public FaceDetector {
  public:
    explicit DlibFaceDetector(const dlib::frontal_face_detector& detector) : detector_(detector) {}

    std::vector<FaceObservation> detect(const Picture& picture, double enlargement) override {
        const auto expected =
            static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3;
        if (picture.width <= 0 || picture.height <= 0 || picture.rgb.size() != expected)
            throw FaceDetectionError("The picture holds no pixels.");
        if (!(enlargement >= 1) || !std::isfinite(enlargement))
            throw FaceDetectionError("The picture cannot be looked at at that size.");
        try {
            return find(picture, enlargement);
        } catch (const std::bad_alloc&) {
            throw FaceDetectionError("There is not enough memory to examine the picture.");
        } catch (const std::exception& e) {
            throw FaceDetectionError(e.what());
        }
    }

  private:
    std::vector<FaceObservation> find(const Picture& picture, double enlargement) {
        const PictureView view{&picture};
        std::vector<dlib::rect_detection> detections;
        double width = picture.width;
        double height = picture.height;
        if (enlargement == 1) {
            detector_(view, detections, 0.0);
        } else {
            dlib::array2d<dlib::rgb_pixel> larger;
            if (enlargement == 2) {
                dlib::pyramid_up(view, larger, dlib::pyramid_down<2>());
            } else {
                larger.set_size(std::lround(picture.height * enlargement),
                                std::lround(picture.width * enlargement));
                dlib::resize_image(view, larger);
            }
            width = static_cast<double>(larger.nc());
            height = static_cast<double>(larger.nr());
            detector_(larger, detections, 0.0);
        }

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

    // Not safe to share: examining a picture loads it into the detector.
    dlib::frontal_face_detector detector_;
};

} // namespace

std::vector<std::unique_ptr<FaceDetector>> makeFaceDetectors(std::size_t count) {
    try {
        // Building the model takes about 0.3 s; a copy of it takes microseconds.
        const dlib::frontal_face_detector model = dlib::get_frontal_face_detector();
        std::vector<std::unique_ptr<FaceDetector>> detectors;
        for (std::size_t i = 0; i < std::max<std::size_t>(count, 1); ++i)
            detectors.push_back(std::make_unique<DlibFaceDetector>(model));
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
