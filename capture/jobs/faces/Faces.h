#pragma once
// The faces job's portable logic: which files are pictures, faces in one
// picture, faces in pictures taken through a video, and the result object.
// Failures are thrown as UserError carrying the line for standard error.
#include "platform/FaceDetector.h"
#include "platform/PictureReader.h"
#include "platform/VideoFrames.h"
#include "json/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::jobs::faces {

// Pictures from a video are scaled down to fit this bound before detection.
inline constexpr int maxFrameSide = 1280;

using PictureReading = std::function<std::optional<platform::StoredPicture>(const std::string&)>;
using VideoOpening = std::function<std::unique_ptr<platform::VideoSource>(const std::string&)>;

// Whether the file's name (its extension, case-insensitive) names a picture type.
bool isImageFile(const std::string& path);

// A decoded picture handed to the detector, with its orientation code when known.
struct ImageRequest {
    const platform::Picture& picture;
    std::optional<std::uint32_t> orientation;
};

// The stored picture turned and mirrored upright for an EXIF orientation code.
// Throws FaceDetectionError for a code outside 1 to 8.
platform::Picture uprightPicture(const platform::Picture& stored, std::uint32_t orientation);

// One face object from a detector observation: clamped into the picture,
// top-left origin, rounded, exact decimals.
json::Object faceObject(const platform::FaceObservation& observation);

// Face objects for every face in the request, in the detector's order.
// Throws FaceDetectionError.
json::Array detectFaces(platform::FaceDetector& detector, const ImageRequest& request);

// The faces result object (no `ok`).
json::Object facesResult(json::Value duration, std::int64_t width, std::int64_t height,
                         double every, json::Array samples);
json::Object faceSample(json::Value t, json::Array faces);

// The result for a still picture. Throws UserError.
json::Object facesInImage(const std::string& path, double every, const PictureReading& read,
                          platform::FaceDetector& detector);

// The result for a video sampled every `every` seconds, at most `maxFrames`
// times. Throws UserError.
json::Object facesInVideo(const std::string& path, double every, std::int64_t maxFrames,
                          const VideoOpening& open, platform::FaceDetector& detector);

// Writes `message` and a line feed to standard error and exits with status 1.
[[noreturn]] void faceFail(std::string_view message);

// Prints the result on one line of standard output and exits with status 0,
// or fails when it cannot be written as JSON.
[[noreturn]] void printFaces(const json::Object& result);

} // namespace quorvane::jobs::faces
