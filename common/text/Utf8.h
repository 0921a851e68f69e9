#pragma once
// The one UTF-8 decoder of the project. Text from outside (window titles,
// device names, file names, arguments) goes through validUtf8 before it is
// put into a result, so the JSON writer never has to refuse a line.
#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane::text {

// One step of decoding: the code point at a position and the bytes it takes.
// An invalid sequence takes the bytes of its maximal subpart (at least one):
// the longest start of a well-formed sequence, which is what one U+FFFD
// replaces.
struct Decoded {
    char32_t codePoint = 0; // U+FFFD when not valid
    std::size_t length = 1;
    bool valid = false;
};

// Decodes at `i` (< s.size()). Overlong forms, surrogates and code points
// above U+10FFFF are invalid.
Decoded decodeAt(std::string_view s, std::size_t i);

bool isValidUtf8(std::string_view s);

// `s` with each maximal invalid subpart replaced by one U+FFFD.
std::string validUtf8(std::string_view s);

// validUtf8(s) fit for one line of plain text: control characters shown in
// a visible form, so that a file name cannot break the line or move the
// cursor. Line feed, carriage return and tab read \n, \r and \t; other
// C0 and C1 controls, DEL and the Unicode line and paragraph separators
// read \xNN or \uNNNN.
std::string oneLine(std::string_view s);

} // namespace quorvane::text
