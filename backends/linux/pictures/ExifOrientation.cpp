#include "pictures/Decoders.h"

#include <exiv2/exiv2.hpp>

namespace quorvane::backends::pictures {

std::optional<std::uint32_t> readOrientation(const std::string& path) {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    try {
        auto image = Exiv2::ImageFactory::open(path);
        if (!image.get()) return std::nullopt;
        image->readMetadata();
        const auto& exif = image->exifData();
        const auto found = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (found == exif.end() || found->count() < 1) return std::nullopt;
        const auto type = found->typeId();
        if (type != Exiv2::unsignedShort && type != Exiv2::unsignedLong) return std::nullopt;
        const long code = found->toLong(0);
        if (code < 0 || code > 0xffffffffL) return std::nullopt;
        return static_cast<std::uint32_t>(code);
    } catch (const Exiv2::AnyError&) {
        return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace quorvane::backends::pictures
