#include "jobs/faces/Faces.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace quorvane::jobs::faces {
namespace {

// Encoding noise spreads thinly over the picture; a real change, even a
// small face appearing in a corner, is dense inside a few tiles. So besides
// the mean over the whole picture, every tile of 32 × 32 pixels must stay
// under a looser mean.
constexpr int tileSide = 32;
constexpr std::uint64_t tileLevels = 8;

} // namespace

bool looksTheSame(const platform::Picture& a, const platform::Picture& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return false;
    if (a.rgb == b.rgb) return true;
    const std::size_t rowBytes = static_cast<std::size_t>(a.width) * 3;
    const std::size_t tileBytes = tileSide * 3;
    const std::size_t tilesAcross = (rowBytes + tileBytes - 1) / tileBytes;
    std::vector<std::uint64_t> tiles(tilesAcross);
    std::uint64_t total = 0;
    for (int top = 0; top < a.height; top += tileSide) {
        std::fill(tiles.begin(), tiles.end(), 0);
        const int bottom = std::min(a.height, top + tileSide);
        for (int row = top; row < bottom; ++row) {
            const std::uint8_t* pa = a.rgb.data() + static_cast<std::size_t>(row) * rowBytes;
            const std::uint8_t* pb = b.rgb.data() + static_cast<std::size_t>(row) * rowBytes;
            for (std::size_t t = 0; t < tilesAcross; ++t) {
                const std::size_t end = std::min(rowBytes, (t + 1) * tileBytes);
                std::uint32_t sum = 0;
                for (std::size_t i = t * tileBytes; i < end; ++i)
                    sum += static_cast<std::uint32_t>(std::abs(int{pa[i]} - int{pb[i]}));
                tiles[t] += sum;
            }
        }
        const auto rows = static_cast<std::uint64_t>(bottom - top);
        for (std::size_t t = 0; t < tilesAcross; ++t) {
            const std::size_t width = std::min(rowBytes, (t + 1) * tileBytes) - t * tileBytes;
            if (tiles[t] >= tileLevels * rows * width) return false;
            total += tiles[t];
        }
    }
    // Under one level on average over every channel of every pixel.
    return total < a.rgb.size();
}

} // namespace quorvane::jobs::faces
