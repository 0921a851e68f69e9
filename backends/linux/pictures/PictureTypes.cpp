#include "platform/PictureReader.h"

#include <array>

namespace quorvane::platform {

bool isPictureExtension(std::string_view lowerCaseExtension) {
    // The picture types this system decodes: OpenCV (JPEG, PNG, BMP, TIFF,
    // WebP, the portable anymaps), libheif (HEIC, HEIF, AVIF), FFmpeg (GIF).
    static constexpr std::array<std::string_view, 17> extensions = {
        "jpg",  "jpeg", "jpe",  "jfif", "png", "gif", "bmp", "tif", "tiff",
        "webp", "heic", "heif", "avif", "pbm", "pgm", "ppm", "pnm"};
    for (const auto e : extensions)
        if (e == lowerCaseExtension) return true;
    return false;
}

} // namespace quorvane::platform
