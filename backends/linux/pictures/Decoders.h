#pragma once
// The decoders behind readPicture, one per library.
#include "io/UniqueFd.h"
#include "platform/PictureReader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quorvane::backends::pictures {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

// Every decoder gives the file's size as stored and the pixels scaled down
// to fit maxSide × maxSide, made from the decoder's own buffer in one step.

// OpenCV, the orientation tag ignored (except for TIFF, whose reader applies
// it regardless). Nothing when the file cannot be decoded.
std::optional<StoredPicture> decodeWithOpenCv(const std::string& path, int maxSide);

// HEIC/HEIF/AVIF through libheif, which applies the file's own rotation and mirroring.
std::optional<StoredPicture> decodeHeif(const std::string& path, int maxSide);

enum class ChannelOrder { rgb, bgr };

// Packed RGB from a decoder's 8-bit three-channel rows, scaled down (area
// averaging) to fit maxSide × maxSide. Throws std::bad_alloc.
Picture fittedPicture(const std::uint8_t* rows, int width, int height, std::size_t stride,
                      ChannelOrder order, int maxSide);

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
