#pragma once
// How a window's pixels are laid out in the pictures the server hands over,
// and their conversion to the BGRX the movie writer takes: 24- and 32-bit
// windows already are BGRX; 15- and 16-bit (5-6-5) and 30-bit (2-10-10-10)
// ones are converted in place.
#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::backends::x11 {

struct PixelLayout {
    int depth = 24;
    int bitsPerPixel = 32; // 16 or 32
    std::uint32_t red = 0xff0000, green = 0xff00, blue = 0xff;

    // Whether pictures are BGRX as they come.
    bool isBgrx() const {
        return bitsPerPixel == 32 && red == 0xff0000 && green == 0xff00 && blue == 0xff;
    }
    // Bytes per row of a picture `width` pixels wide (rows padded to 32 bits).
    std::size_t rowBytes(int width) const {
        return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel) / 8 + 3) &
               ~std::size_t{3};
    }
};

// The layout of windows of `depth` with `visual` on this display; a
// sentence saying why they cannot be recorded when it is not supported
// (colour maps, other pixel sizes, the other byte order).
struct LayoutResult {
    std::optional<PixelLayout> layout;
    std::string unsupported;
};
LayoutResult pixelLayout(xcb_connection_t* connection, xcb_visualid_t visual, std::uint8_t depth);

// Turns pictures of one layout into BGRX with 8 bits a colour.
class PixelConverter {
  public:
    explicit PixelConverter(const PixelLayout& layout);

    // `pixels` holds `height` rows of `rowBytes` bytes as the server wrote
    // them; afterwards it holds width * 4 bytes a row of BGRX. The buffer
    // must be width * height * 4 bytes at least.
    void toBgrx(std::uint8_t* pixels, int width, int height, std::size_t rowBytes) const;

  private:
    struct Channel {
        int shift = 0;
        std::uint32_t max = 0;
        std::vector<std::uint8_t> levels; // value >> shift & max -> 8 bits
    };
    static Channel channel(std::uint32_t mask);

    PixelLayout layout_;
    Channel red_, green_, blue_;
    std::vector<std::uint32_t> table16_; // every 16-bit pixel -> BGRX
};

} // namespace quorvane::backends::x11
