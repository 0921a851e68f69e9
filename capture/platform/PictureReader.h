#pragma once
// Still pictures from files: which names are pictures, and decoding the
// first picture of a file as it is stored, with its orientation code.
#include "platform/Picture.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::platform {

// Whether files named with this (lower-case) extension hold a picture type
// this system can decode. Only the name is considered.
bool isPictureExtension(std::string_view lowerCaseExtension);

struct StoredPicture {
    Picture pixels;                           // as stored, not turned
    std::optional<std::uint32_t> orientation; // EXIF code, when the file has one
};

// The first picture of the file; nothing when the file cannot be opened as a
// picture or its first picture cannot be decoded.
std::optional<StoredPicture> readPicture(const std::string& path);

} // namespace quorvane::platform
