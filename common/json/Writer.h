#pragma once
// Compact JSON text: sorted keys, no whitespace, "/" written as "\/",
// non-ASCII left unescaped, numbers that read back to the same double.
#include "json/Value.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorvane::json {

// Thrown when a value cannot be written: a number that is not finite, or a
// string that is not valid UTF-8. Its what() is the sentence shown to users.
class EncodingError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The whole value as one line of JSON text (no line feed). Throws EncodingError.
std::string serialize(const Value& value);

// As serialize, but nothing instead of an exception.
std::optional<std::string> trySerialize(const Value& value);

// Appends `text` as a JSON string literal (quotes included). Throws
// EncodingError when `text` is not valid UTF-8.
void appendString(std::string& out, std::string_view text);

} // namespace quorvane::json
