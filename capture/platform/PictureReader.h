#pragma once
// Still pictures from files: which names are pictures, and decoding the
// first picture of a file as it is stored, with its orientation code.
// A large picture is scaled down while it is read, so that no more than two
// pictures of its full size are ever in memory.
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
    Picture pixels; // as stored, not turned; scaled down when the file's is larger than asked
    int width = 0;  // size of the picture in the file, as stored
    int height = 0;
    std::optional<std::uint32_t> orientation; // EXIF code, when the file has one
};

// The first picture of the file, scaled down (proportions kept) when a side
// is longer than `maxSide`; nothing when the file cannot be opened as a
// picture or its first picture cannot be decoded.
std::optional<StoredPicture> readPicture(const std::string& path, int maxSide);

} // namespace quorvane::platform
