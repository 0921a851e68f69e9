#pragma once
// A video file: its length, its first picture track as shown, and pictures
// at exact times, upright and scaled to fit a bound.
#include "platform/Picture.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace quorvane::platform {

// The file or its picture track cannot be read; what() describes why.
class VideoError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ShownSize {
    double width = 0; // may be negative or fractional as the track's transform gives it
    double height = 0;
};

class VideoSource {
  public:
    virtual ~VideoSource() = default;

    // Length in seconds; not a number when the file does not tell it.
    virtual double duration() const = 0;
    virtual bool hasPictureTrack() const = 0;
    // Size of the first picture track as shown upright. Throws VideoError.
    virtual ShownSize shownSize() const = 0;
    // The picture shown at exactly `seconds`, upright, scaled down to fit
    // maxWidth × maxHeight; nothing when no picture can be had at that time.
    // Times should be asked for in increasing order: that is the fast path.
    virtual std::optional<Picture> pictureAt(double seconds, int maxWidth, int maxHeight) = 0;
};

// Opens the file. Throws VideoError.
std::unique_ptr<VideoSource> openVideo(const std::string& path);

} // namespace quorvane::platform
