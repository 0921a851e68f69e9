#pragma once
// Number text in both directions, shared by every job: the exact parsers
// options use, rounding half away from zero, and the one number formatter.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::text {

// An optional '+' or '-' followed by one or more ASCII digits, nothing else,
// within the signed 64-bit range.
std::optional<std::int64_t> parseInt64(std::string_view s);

// As parseInt64, then required to fit an unsigned 32-bit integer.
std::optional<std::uint32_t> parseUInt32(std::string_view s);

// The C library's strtod syntax (decimal, exponent, hexadecimal, inf, nan),
// no leading white space, the whole text consumed. Independent of the locale.
std::optional<double> parseDouble(std::string_view s);

// Rounds to `places` decimals, halves away from zero: round(v * 10^p) / 10^p.
double roundHalfAwayFromZero(double value, int places);

// Appends the shortest text that reads back as `value`. Whole numbers have no
// fraction ("3"), negative zero is written "0". With allowExponent false the
// text is always a plain decimal ("0.00001"); with it true very large and very
// small magnitudes use an exponent. `value` must be finite.
void appendNumber(std::string& out, double value, bool allowExponent);

std::string formatNumber(double value, bool allowExponent = false);

} // namespace quorvane::text
