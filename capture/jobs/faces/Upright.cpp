#include "jobs/faces/Faces.h"

#include <string>

namespace quorvane::jobs::faces {

platform::Picture uprightPicture(const platform::Picture& stored, std::uint32_t orientation) {
    if (orientation < 1 || orientation > 8)
        throw platform::FaceDetectionError("The picture's orientation code " +
                                           std::to_string(orientation) + " is not one of 1 to 8.");
    const int w = stored.width;
    const int h = stored.height;
    const bool quarterTurn = orientation >= 5;
    platform::Picture out;
    out.width = quarterTurn ? h : w;
    out.height = quarterTurn ? w : h;
    out.rgb.resize(stored.rgb.size());
    // For every upright pixel, the stored pixel shown there (EXIF 0th row/column rules).
    for (int uy = 0; uy < out.height; ++uy) {
        for (int ux = 0; ux < out.width; ++ux) {
            int sx = ux;
            int sy = uy;
            switch (orientation) {
            case 2:
                sx = w - 1 - ux;
                break;
            case 3:
                sx = w - 1 - ux;
                sy = h - 1 - uy;
                break;
            case 4:
                sy = h - 1 - uy;
                break;
            case 5:
                sx = uy;
                sy = ux;
                break;
            case 6:
                sx = uy;
                sy = h - 1 - ux;
                break;
            case 7:
                sx = w - 1 - uy;
                sy = h - 1 - ux;
                break;
            case 8:
                sx = w - 1 - uy;
                sy = ux;
                break;
            default:
                break;
            }
            const auto from = (static_cast<std::size_t>(sy) * w + sx) * 3;
            const auto to = (static_cast<std::size_t>(uy) * out.width + ux) * 3;
            out.rgb[to] = stored.rgb[from];
            out.rgb[to + 1] = stored.rgb[from + 1];
            out.rgb[to + 2] = stored.rgb[from + 2];
        }
    }
    return out;
}

} // namespace quorvane::jobs::faces
