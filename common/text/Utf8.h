#pragma once
#include <string>
#include <string_view>

namespace quorvane::text {

bool isValidUtf8(std::string_view s);

// `s` with every byte sequence that is not valid UTF-8 replaced by U+FFFD.
std::string toValidUtf8(std::string_view s);

} // namespace quorvane::text
