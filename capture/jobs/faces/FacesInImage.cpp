#include "jobs/faces/Faces.h"

#include "shell/UserError.h"

namespace quorvane::jobs::faces {

json::Object facesInImage(const std::string& path, double every, const PictureReading& read,
                          platform::FaceDetector& detector) {
    const auto stored = read(path, maxPictureSide);
    if (!stored) throw UserError("Quorvane could not open that picture.");
    const std::uint32_t orientation = stored->orientation.value_or(1);

    json::Array faces;
    try {
        faces = detectFaces(detector, ImageRequest{stored->pixels, orientation},
                            pictureEnlargement(stored->pixels));
    } catch (const platform::FaceDetectionError& e) {
        throw UserError(std::string("Quorvane could not look for faces in that picture. ") +
                        e.what());
    }

    // Codes 5 to 8 turn the picture by a quarter: report the upright size,
    // of the picture in the file (a large one was looked at scaled down).
    const bool quarterTurn = orientation >= 5 && orientation <= 8;
    const std::int64_t width = quarterTurn ? stored->height : stored->width;
    const std::int64_t height = quarterTurn ? stored->width : stored->height;
    json::Array samples;
    samples.emplace_back(faceSample(0, std::move(faces)));
    return facesResult(0, width, height, every, std::move(samples));
}

} // namespace quorvane::jobs::faces
