#pragma once
// A decoded picture in memory, as the face detector takes it.
#include <cstdint>
#include <vector>

namespace quorvane::platform {

// 8-bit RGB, three bytes per pixel, rows top to bottom without padding.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

} // namespace quorvane::platform
