#pragma once
// The decoders behind readPicture, one per library.
#include "io/UniqueFd.h"
#include "platform/PictureReader.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane::backends::pictures {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

// OpenCV, the orientation tag ignored (except for TIFF, whose reader applies
// it regardless). Nothing when the file cannot be decoded.
std::optional<Picture> decodeWithOpenCv(const std::string& path);

// HEIC/HEIF through libheif, which applies the file's own rotation and mirroring.
std::optional<Picture> decodeHeif(const std::string& path);

// The EXIF orientation code stored in the file, when there is one of an
// integer type.
std::optional<std::uint32_t> readOrientation(const std::string& path);

// Silences standard error while third-party decoders run, so that their
// warnings never add lines to the job's one-line failure report.
class QuietStandardError {
  public:
    QuietStandardError();
    ~QuietStandardError();
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

  private:
    io::UniqueFd saved_; // standard error as it was
};

} // namespace quorvane::backends::pictures
