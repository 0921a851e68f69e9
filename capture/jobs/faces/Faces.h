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

// Pictures from a video larger than this are scaled down to fit it while
// they are converted, for memory; smaller ones are examined at their own size
// or larger, never smaller.
inline constexpr int maxFrameSide = 4096;
// Still pictures larger than this are scaled down to fit it while they are
// read: detection memory and time grow with the pixels, and positions are
// fractions, so they do not change.
inline constexpr int maxPictureSide = 4096;
// The detector's window finds faces of about 60 px. Pictures are looked at
// enlarged so that their long side reaches an examined size, by at most a
// greatest factor. The examined size grows with the picture's (a face found
// in one picture is found in the same picture a pixel larger), and below
// the examined size smaller faces are found:
// - stills up to 1000 px at twice their size (faces of about 30 px), then
//   at 2000 px up to 2000 px, then at their own size;
// - video pictures up to 1280 px at 1.2 times (faces of 55 px in 720p), then
//   at 1536 px up to 1536 px, then at their own size (faces of about 60 px).
inline constexpr double stillExaminedSide = 2000;
inline constexpr double mostStillEnlargement = 2;
inline constexpr double frameExaminedSide = 1536;
inline constexpr double mostFrameEnlargement = 1.2;

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

// How much larger than it is a picture whose long side is `longSide` is
// looked at: enough to reach `examinedSide`, at least 1, at most `most`.
double enlargementFor(double longSide, double examinedSide, double most);
// The same for a still picture, and for video pictures of a shown size.
double pictureEnlargement(const platform::Picture& picture);
double frameEnlargement(double shownWidth, double shownHeight);

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
