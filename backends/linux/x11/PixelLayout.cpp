#include "x11/PixelLayout.h"

#include <bit>
#include <cstring>

namespace quorvane::backends::x11 {
namespace {

std::string depthSentence(std::uint8_t depth, const char* why) {
    return "Quorvane cannot record windows of " + std::to_string(depth) + "-bit colour (" + why +
           "); it records 15-, 16-, 24-, 30- and 32-bit colour.";
}

const xcb_visualtype_t* findVisual(xcb_connection_t* c, xcb_visualid_t visual) {
    for (auto roots = xcb_setup_roots_iterator(xcb_get_setup(c)); roots.rem;
         xcb_screen_next(&roots)) {
        for (auto depths = xcb_screen_allowed_depths_iterator(roots.data); depths.rem;
             xcb_depth_next(&depths)) {
            for (auto v = xcb_depth_visuals_iterator(depths.data); v.rem; xcb_visualtype_next(&v))
                if (v.data->visual_id == visual) return v.data;
        }
    }
    return nullptr;
}

int bitsPerPixel(xcb_connection_t* c, std::uint8_t depth) {
    for (auto f = xcb_setup_pixmap_formats_iterator(xcb_get_setup(c)); f.rem; xcb_format_next(&f))
        if (f.data->depth == depth) return f.data->bits_per_pixel;
    return 0;
}

} // namespace

LayoutResult pixelLayout(xcb_connection_t* c, xcb_visualid_t visual, std::uint8_t depth) {
    const xcb_visualtype_t* type = findVisual(c, visual);
    if (!type) return {std::nullopt, depthSentence(depth, "its visual is unknown")};
    if (type->_class != XCB_VISUAL_CLASS_TRUE_COLOR &&
        type->_class != XCB_VISUAL_CLASS_DIRECT_COLOR)
        return {std::nullopt, depthSentence(depth, "a colour map")};
    PixelLayout layout;
    layout.depth = depth;
    layout.bitsPerPixel = bitsPerPixel(c, depth);
    layout.red = type->red_mask;
    layout.green = type->green_mask;
    layout.blue = type->blue_mask;
    if (layout.bitsPerPixel != 16 && layout.bitsPerPixel != 32)
        return {
            std::nullopt,
            depthSentence(depth, (std::to_string(layout.bitsPerPixel) + " bits a pixel").c_str())};
    const std::uint32_t limit = layout.bitsPerPixel == 16 ? 0xffffu : 0xffffffffu;
    for (std::uint32_t mask : {layout.red, layout.green, layout.blue}) {
        // Each colour is one run of bits of at most 16.
        const std::uint32_t run = mask >> (mask ? std::countr_zero(mask) : 0);
        if (mask == 0 || (mask & ~limit) || (run & (run + 1)) || std::popcount(mask) > 16)
            return {std::nullopt, depthSentence(depth, "an unusual colour layout")};
    }
    if (xcb_get_setup(c)->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return {std::nullopt, depthSentence(depth, "the other byte order")};
    return {layout, {}};
}

PixelConverter::Channel PixelConverter::channel(std::uint32_t mask) {
    Channel ch;
    ch.shift = std::countr_zero(mask);
    ch.max = mask >> ch.shift;
    ch.levels.resize(ch.max + 1);
    for (std::uint32_t v = 0; v <= ch.max; ++v)
        ch.levels[v] = static_cast<std::uint8_t>((v * 255 + ch.max / 2) / ch.max);
    return ch;
}

PixelConverter::PixelConverter(const PixelLayout& layout)
    : layout_(layout), red_(channel(layout.red)), green_(channel(layout.green)),
      blue_(channel(layout.blue)) {
    if (layout_.bitsPerPixel != 16) return;
    table16_.resize(65536);
    for (std::uint32_t p = 0; p < 65536; ++p)
        table16_[p] = blue_.levels[(p >> blue_.shift) & blue_.max] |
                      static_cast<std::uint32_t>(green_.levels[(p >> green_.shift) & green_.max])
                          << 8 |
                      static_cast<std::uint32_t>(red_.levels[(p >> red_.shift) & red_.max]) << 16 |
                      0xff000000u;
}

void PixelConverter::toBgrx(std::uint8_t* pixels, int width, int height,
                            std::size_t rowBytes) const {
    if (layout_.isBgrx() || width <= 0 || height <= 0) return;
    const auto w = static_cast<std::size_t>(width);
    if (layout_.bitsPerPixel == 16) {
        // Backwards: each 4-byte result lands at or after the 2 bytes it
        // comes from, never on a pixel still to be read.
        for (std::size_t r = static_cast<std::size_t>(height); r-- > 0;) {
            const std::uint8_t* in = pixels + r * rowBytes;
            std::uint8_t* out = pixels + r * w * 4;
            for (std::size_t x = w; x-- > 0;) {
                std::uint16_t p;
                std::memcpy(&p, in + x * 2, 2);
                std::memcpy(out + x * 4, &table16_[p], 4);
            }
        }
        return;
    }
    for (std::size_t r = 0; r < static_cast<std::size_t>(height); ++r) {
        std::uint8_t* row = pixels + r * rowBytes; // rowBytes == width * 4 here
        for (std::size_t x = 0; x < w; ++x) {
            std::uint32_t p;
            std::memcpy(&p, row + x * 4, 4);
            const std::uint32_t bgrx =
                blue_.levels[(p >> blue_.shift) & blue_.max] |
                static_cast<std::uint32_t>(green_.levels[(p >> green_.shift) & green_.max]) << 8 |
                static_cast<std::uint32_t>(red_.levels[(p >> red_.shift) & red_.max]) << 16 |
                0xff000000u;
            std::memcpy(row + x * 4, &bgrx, 4);
        }
    }
}

} // namespace quorvane::backends::x11
