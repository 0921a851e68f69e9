#pragma once
// Text held in window properties (titles, class names), as valid UTF-8.
#include "x11/XcbConnection.h"

#include <optional>
#include <string>
#include <string_view>

namespace quorvane::backends::x11 {

// ISO 8859-1 (the STRING property type) to UTF-8.
std::string latin1ToUtf8(std::string_view latin1);

// The text of a property of type UTF8_STRING, STRING, COMPOUND_TEXT or a
// locale encoding, as valid UTF-8; nothing when the type is not text or the
// text cannot be decoded.
std::optional<std::string> decodeText(const XcbConnection& connection, const Property& value);

} // namespace quorvane::backends::x11
