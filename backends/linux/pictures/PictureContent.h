#pragma once
// What a file holds, told from its first bytes: the name may lie (a phone's
// HEIC saved as .jpg, a GIF named .png).
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane::backends::pictures {

enum class PictureContent {
    jpeg,
    png,
    gif,
    bmp,
    tiff,
    webp,
    heif, // HEIC, HEIF and AVIF: ISO media files with a still-picture brand
    anymap,
    jpeg2000,
    photoshop,
    openExr,
    icon,
    unknown, // TGA has no signature at its start; anything else unrecognised
};

// The content told from the file's first bytes (`size` of them at `bytes`).
PictureContent contentOf(const std::uint8_t* bytes, std::size_t size);

// The content of the file at `path`; unknown when it cannot be read.
PictureContent contentOfFile(const std::string& path);

} // namespace quorvane::backends::pictures
