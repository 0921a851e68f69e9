#include "ffmpeg/VideoFrames.h"
#include "pictures/Decoders.h"
#include "pictures/PictureContent.h"

#include <array>
#include <functional>

namespace quorvane::platform {
namespace {

using backends::pictures::PictureContent;

// FFmpeg's picture decoders read GIF (which OpenCV 4.6 lacks), Photoshop,
// OpenEXR, icons and TGA; the first picture, scaled while it is converted.
// FFmpeg applies no EXIF orientation itself.
std::optional<StoredPicture> decodeWithFfmpeg(const std::string& path, int maxSide) {
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

enum class Decoder { openCv, heif, ffmpeg };

// The decoders to try for a content, the likeliest first; every library is
// tried in the end, so a picture one of them can read is never refused.
std::array<Decoder, 3> decodersFor(PictureContent content) {
    switch (content) {
    case PictureContent::heif:
        return {Decoder::heif, Decoder::openCv, Decoder::ffmpeg};
    case PictureContent::gif:
    case PictureContent::photoshop:
    case PictureContent::openExr: // OpenCV reads it only when told to by the environment
    case PictureContent::icon:
        return {Decoder::ffmpeg, Decoder::openCv, Decoder::heif};
    default:
        return {Decoder::openCv, Decoder::ffmpeg, Decoder::heif};
    }
}

std::optional<StoredPicture> decode(Decoder decoder, PictureContent content,
                                    const std::string& path, int maxSide) {
    switch (decoder) {
    case Decoder::heif:
        // libheif turns the picture itself; EXIF orientation is not used.
        return backends::pictures::decodeHeif(path, maxSide);
    case Decoder::openCv: {
        auto picture = backends::pictures::decodeWithOpenCv(path, maxSide);
        if (!picture) return std::nullopt;
        auto orientation = backends::pictures::readOrientation(path);
        // OpenCV's TIFF reader turns the picture upright itself whatever it
        // is told: nothing is left to turn, but a code it cannot use still counts.
        const bool decoderTurned = content == PictureContent::tiff;
        if (decoderTurned && orientation && *orientation >= 1 && *orientation <= 8)
            orientation.reset();
        picture->orientation = orientation;
        return picture;
    }
    case Decoder::ffmpeg: {
        auto picture = decodeWithFfmpeg(path, maxSide);
        if (picture && content != PictureContent::heif)
            picture->orientation = backends::pictures::readOrientation(path);
        return picture;
    }
    }
    return std::nullopt;
}

} // namespace

std::optional<StoredPicture> readPicture(const std::string& path, int maxSide) {
    const backends::pictures::QuietStandardError quiet;
    const PictureContent content = backends::pictures::contentOfFile(path);
    for (const Decoder decoder : decodersFor(content))
        if (auto picture = decode(decoder, content, path, maxSide)) return picture;
    return std::nullopt;
}

} // namespace quorvane::platform
