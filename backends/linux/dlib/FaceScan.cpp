// dlib's HOG frontal face detector. dlib's headers are heavy: keep them to
// this one file. It is compiled once per processor variant, each naming its
// factory by QUORVANE_FACE_SCAN_FACTORY; the build keeps the variants'
// copies of dlib's templates apart (see CMakeLists.txt).
#include "dlib/FaceScan.h"

#include <dlib/image_processing/frontal_face_detector.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <sstream>

#ifndef QUORVANE_FACE_SCAN_FACTORY
#error "QUORVANE_FACE_SCAN_FACTORY names the factory this build of the scanner defines"
#endif

namespace quorvane::backends::facescan {
namespace {

// A picture's pixels seen by dlib in place: Picture rows are packed 8-bit
// red, green, blue, exactly dlib's rgb_pixel, so no copy is made. dlib finds
// these functions by argument-dependent lookup.
struct PictureView {
    const platform::Picture* picture = nullptr;
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
} // namespace quorvane::backends::facescan

namespace dlib {

template <> struct image_traits<quorvane::backends::facescan::PictureView> {
    using pixel_type = rgb_pixel;
};

} // namespace dlib

namespace quorvane::backends::facescan {
namespace {

static_assert(sizeof(dlib::rgb_pixel) == 3, "rgb_pixel must match the packed picture layout");

using Pixels = dlib::array2d<dlib::rgb_pixel>;

// An 8-bit RGB image of dlib's seen by OpenCV in place.
cv::Mat matOf(Pixels& image) {
    return cv::Mat(static_cast<int>(image.nr()), static_cast<int>(image.nc()), CV_8UC3,
                   dlib::image_data(image), static_cast<std::size_t>(dlib::width_step(image)));
}

// dlib's pyramid of 5/6 steps, with its geometry, but each level made by
// OpenCV's vectorised bilinear resize: dlib's own resize took a fifth of the
// detection time.
class FastPyramidDown : public dlib::pyramid_down<6> {
  public:
    template <typename InImage, typename OutImage>
    void operator()(const InImage& original, OutImage& down) const {
        // Unqualified: our own picture view's functions are found by its type.
        using dlib::image_data, dlib::num_columns, dlib::num_rows, dlib::width_step;
        const long rows = num_rows(original);
        const long columns = num_columns(original);
        dlib::set_image_size(down, (5 * rows) / 6, (5 * columns) / 6);
        if (num_rows(down) == 0 || num_columns(down) == 0) return;
        const cv::Mat in(static_cast<int>(rows), static_cast<int>(columns), CV_8UC3,
                         const_cast<void*>(image_data(original)),
                         static_cast<std::size_t>(width_step(original)));
        cv::Mat out = matOf(down);
        cv::resize(in, out, out.size(), 0, 0, cv::INTER_LINEAR);
    }

    template <typename Image> void operator()(Image& image) const {
        Image temp;
        (*this)(image, temp);
        dlib::swap(temp, image);
    }
};

using Detector = dlib::object_detector<dlib::scan_fhog_pyramid<FastPyramidDown>>;

class DlibScanner final : public FaceScanner {
  public:
    explicit DlibScanner(const Detector& model) : detector_(model) {}

    std::vector<ScannedFace> scan(const platform::Picture& picture, double enlargement) override {
        std::vector<dlib::rect_detection> detections;
        double width = picture.width;
        double height = picture.height;
        if (enlargement == 1) {
            detector_(PictureView{&picture}, detections, 0.0);
        } else {
            larger_.set_size(std::lround(picture.height * enlargement),
                             std::lround(picture.width * enlargement));
            const cv::Mat in(picture.height, picture.width, CV_8UC3,
                             const_cast<std::uint8_t*>(picture.rgb.data()),
                             static_cast<std::size_t>(picture.width) * 3);
            cv::Mat out = matOf(larger_);
            cv::resize(in, out, out.size(), 0, 0, cv::INTER_LINEAR);
            width = static_cast<double>(larger_.nc());
            height = static_cast<double>(larger_.nr());
            detector_(larger_, detections, 0.0);
        }
        std::vector<ScannedFace> faces;
        faces.reserve(detections.size());
        for (const auto& d : detections) {
            const auto& r = d.rect; // inclusive pixel corners, top-left origin
            faces.push_back(ScannedFace{
                static_cast<double>(r.left()) / width,
                static_cast<double>(r.top()) / height,
                static_cast<double>(r.right() - r.left() + 1) / width,
                static_cast<double>(r.bottom() - r.top() + 1) / height,
                d.detection_confidence,
            });
        }
        return faces;
    }

  private:
    // Not safe to share: examining a picture loads it into the detector.
    Detector detector_;
    Pixels larger_; // the enlarged picture, kept for the next one
};

} // namespace

std::vector<std::unique_ptr<FaceScanner>> QUORVANE_FACE_SCAN_FACTORY(std::size_t count) {
    // dlib's own model, read onto the faster pyramid: the pyramid's type is
    // not part of the saved model. Building it takes about 0.3 s; a copy of
    // it takes microseconds.
    // One worker per processor already examines pictures: OpenCV's resize
    // would otherwise start threads of its own for each level.
    cv::setNumThreads(0);
    std::istringstream saved(dlib::get_serialized_frontal_faces());
    Detector model;
    dlib::deserialize(model, saved);
    std::vector<std::unique_ptr<FaceScanner>> scanners;
    for (std::size_t i = 0; i < std::max<std::size_t>(count, 1); ++i)
        scanners.push_back(std::make_unique<DlibScanner>(model));
    return scanners;
}

} // namespace quorvane::backends::facescan
