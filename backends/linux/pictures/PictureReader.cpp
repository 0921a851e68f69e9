#include "ffmpeg/VideoFrames.h"
#include "pictures/Decoders.h"

#include <algorithm>

namespace quorvane::platform {
namespace {

std::string lowerExtension(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string e = path.substr(dot + 1);
    std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return e;
}

// GIF: OpenCV 4.6 has no GIF decoder; FFmpeg's gives the first picture,
// scaled while it is converted.
std::optional<StoredPicture> decodeGif(const std::string& path, int maxSide) {
    try {
        const auto video =
            backends::ffmpeg::openVideoFile(path, backends::ffmpeg::FrameSeeking::forwardWalk);
        if (!video->hasPictureTrack()) return std::nullopt;
        const ShownSize size = video->shownSize();
        auto pixels = video->pictureAt(0, maxSide, maxSide);
        if (!pixels) return std::nullopt;
        return StoredPicture{std::move(*pixels), static_cast<int>(size.width),
                             static_cast<int>(size.height), std::nullopt};
    } catch (const VideoError&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<StoredPicture> readPicture(const std::string& path, int maxSide) {
    const backends::pictures::QuietStandardError quiet;
    const std::string extension = lowerExtension(path);
    // libheif turns the picture itself; EXIF orientation is not used for these.
    if (extension == "heic" || extension == "heif" || extension == "avif")
        return backends::pictures::decodeHeif(path, maxSide);
    if (extension == "gif") return decodeGif(path, maxSide);
    auto picture = backends::pictures::decodeWithOpenCv(path, maxSide);
    if (!picture) return std::nullopt;
    auto orientation = backends::pictures::readOrientation(path);
    // OpenCV's TIFF reader turns the picture upright itself whatever it is
    // told: nothing is left to turn, but a code it cannot use still counts.
    const bool decoderTurned = extension == "tif" || extension == "tiff";
    if (decoderTurned && orientation && *orientation >= 1 && *orientation <= 8) orientation.reset();
    picture->orientation = orientation;
    return picture;
}

} // namespace quorvane::platform
