#include "platform/PictureReader.h"

#include <array>

namespace quorvane::platform {

bool isPictureExtension(std::string_view lowerCaseExtension) {
    // The picture types this system decodes (OpenCV, libheif, FFmpeg for GIF).
    static constexpr std::array<std::string_view, 11> extensions = {
        "jpg", "jpeg", "jpe", "png", "gif", "bmp", "tif", "tiff", "webp", "heic", "heif"};
    for (const auto e : extensions)
        if (e == lowerCaseExtension) return true;
    return false;
}

} // namespace quorvane::platform
