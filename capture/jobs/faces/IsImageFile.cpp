#include "jobs/faces/Faces.h"

#include <algorithm>

namespace quorvane::jobs::faces {

bool isImageFile(const std::string& path) {
    std::string_view name = path;
    while (name.size() > 1 && name.back() == '/')
        name.remove_suffix(1);
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    const auto dot = name.rfind('.');
    std::string extension =
        dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    if (extension.empty()) return false;
    return platform::isPictureExtension(extension);
}

} // namespace quorvane::jobs::faces
