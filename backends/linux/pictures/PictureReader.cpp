#include "ffmpeg/VideoFrames.h"
#include "pictures/Decoders.h"

#include <algorithm>
#include <climits>

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

// GIF: OpenCV 4.6 has no GIF decoder; FFmpeg's gives the first picture.
std::optional<Picture> decodeGif(const std::string& path) {
    try {
        const auto video =
            backends::ffmpeg::openVideoFile(path, backends::ffmpeg::FrameSeeking::forwardWalk);
        if (!video->hasPictureTrack()) return std::nullopt;
        return video->pictureAt(0, INT_MAX, INT_MAX);
    } catch (const VideoError&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<StoredPicture> readPicture(const std::string& path) {
    const backends::pictures::QuietStandardError quiet;
    const std::string extension = lowerExtension(path);
    if (extension == "heic" || extension == "heif") {
        auto pixels = backends::pictures::decodeHeif(path);
        if (!pixels) return std::nullopt;
        return StoredPicture{std::move(*pixels), std::nullopt};
    }
    if (extension == "gif") {
        auto pixels = decodeGif(path);
        if (!pixels) return std::nullopt;
        return StoredPicture{std::move(*pixels), std::nullopt};
    }
    auto pixels = backends::pictures::decodeWithOpenCv(path);
    if (!pixels) return std::nullopt;
    auto orientation = backends::pictures::readOrientation(path);
    // OpenCV's TIFF reader turns the picture upright itself whatever it is
    // told: nothing is left to turn, but a code it cannot use still counts.
    const bool decoderTurned = extension == "tif" || extension == "tiff";
    if (decoderTurned && orientation && *orientation >= 1 && *orientation <= 8) orientation.reset();
    return StoredPicture{std::move(*pixels), orientation};
}

} // namespace quorvane::platform
