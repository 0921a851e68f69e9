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
#include <vector>

namespace quorvane::jobs::faces {

// Pictures from a video are scaled down to fit this bound before detection.
inline constexpr int maxFrameSide = 1280;
// Still pictures larger than this are scaled down to fit it while they are
// read: detection memory and time grow with the pixels, and positions are
// fractions, so they do not change.
inline constexpr int maxPictureSide = 4096;
// Still pictures up to this size are looked at twice as large, so that faces
// of about 40 px reach the detector's 80-px window.
inline constexpr int smallPictureSide = 1000;
// Video frames are looked at this much larger, so that faces of 55 px in a
// 720p video are found: one step of the detector's own pyramid (5/6) above
// the frame, at about 1.5 times the work. At the frame's own size faces
// below about 58 px are missed.
inline constexpr double frameEnlargement = 1.2;

using PictureReading =
    std::function<std::optional<platform::StoredPicture>(const std::string&, int maxSide)>;
using VideoOpening = std::function<std::unique_ptr<platform::VideoSource>(const std::string&)>;
// One detector for each thread that looks for faces at the same time.
using Detectors = std::vector<std::unique_ptr<platform::FaceDetector>>;

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

// How much larger than it is a still picture is looked at.
double pictureEnlargement(const platform::Picture& picture);

// Face objects for observations, in their order.
json::Array faceObjects(const std::vector<platform::FaceObservation>& observations);

// Face objects for every face in the request, in the detector's order, the
// picture turned upright and looked at `enlargement` times as large.
// Throws FaceDetectionError.
json::Array detectFaces(platform::FaceDetector& detector, const ImageRequest& request,
                        double enlargement);

// Whether two pictures show the same thing but for encoding noise: the same
// size, a mean difference under one level, and no small area changed either.
bool looksTheSame(const platform::Picture& a, const platform::Picture& b);

// The faces result object (no `ok`).
json::Object facesResult(json::Value duration, std::int64_t width, std::int64_t height,
                         double every, json::Array samples);
json::Object faceSample(json::Value t, json::Array faces);

// The result for a still picture. Throws UserError.
json::Object facesInImage(const std::string& path, double every, const PictureReading& read,
                          platform::FaceDetector& detector);

// The result for a video sampled every `every` seconds, at most `maxFrames`
// times: pictures are taken in order on the calling thread and examined on
// one thread per detector; a picture that looks the same as the last one
// examined takes its faces. Throws UserError.
json::Object facesInVideo(const std::string& path, double every, std::int64_t maxFrames,
                          const VideoOpening& open, const Detectors& detectors);

// Writes `message` and a line feed to standard error and exits with status 1.
[[noreturn]] void faceFail(std::string_view message);

// Prints the result on one line of standard output and exits with status 0,
// or fails when it cannot be written as JSON.
[[noreturn]] void printFaces(const json::Object& result);

} // namespace quorvane::jobs::faces
