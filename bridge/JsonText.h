#pragma once
// Small readings of JSON text that JsonScanner has already found to follow
// the grammar. None of them checks the text again.
#include <string>
#include <string_view>

namespace quorvane::bridge {

// The characters of a string's contents (between its quotes), escapes
// resolved, as UTF-8. A surrogate pair becomes its one character; a lone
// surrogate is kept as its own three-byte form, so that two different
// strings never read the same.
std::string decodeString(std::string_view contents);

// `value` without white space outside its strings; everything else as written.
void appendCompact(std::string& out, std::string_view value);

// The decimal text of a number, the same for every spelling of one value:
// an integer written plainly is kept exactly ("-0" becomes "0"); 7.0, 7e0 and
// 70e-1 read "7", 1.50 reads "1.5". Values that would need more than a
// thousand characters written out use an exponent: 1e2000 reads "1e2000".
std::string numberKey(std::string_view number);

} // namespace quorvane::bridge
