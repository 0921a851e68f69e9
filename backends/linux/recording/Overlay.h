#pragma once
// Something drawn over a queued picture just before it is encoded, such as
// the pointer. The encoding thread takes it off again afterwards, so that
// the picture underneath stays clean for the next overlay.
#include <cstdint>

namespace quorvane::backends::recording {

struct PixelArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class Overlay {
  public:
    virtual ~Overlay() = default;
    // The part of a width × height picture that draw() may change.
    virtual PixelArea area(int width, int height) const = 0;
    // Draws over tightly or loosely packed BGRA rows (`stride` bytes each).
    virtual void draw(std::uint8_t* pixels, int width, int height, int stride) const = 0;
};

} // namespace quorvane::backends::recording
