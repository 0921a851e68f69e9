#include "platform/PictureReader.h"

#include <array>

namespace quorvane::platform {

bool isPictureExtension(std::string_view lowerCaseExtension) {
    // The picture types this system decodes: OpenCV (JPEG, PNG, BMP, TIFF,
    // WebP, the portable anymaps, JPEG 2000), libheif (HEIC, HEIF, AVIF),
    // FFmpeg (GIF, Photoshop, OpenEXR, icons, TGA). Which decoder reads a
    // file is told by its content, not by this name.
    static constexpr std::array<std::string_view, 26> extensions = {
        "jpg",  "jpeg", "jpe",  "jfif", "png", "gif", "bmp", "tif", "tiff",
        "webp", "heic", "heif", "avif", "pbm", "pgm", "ppm", "pnm", "jp2",
        "j2k",  "j2c",  "jpf",  "jpx",  "psd", "exr", "ico", "tga"};
    for (const auto e : extensions)
        if (e == lowerCaseExtension) return true;
    return false;
}

} // namespace quorvane::platform
