#include "text/Numbers.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <locale.h>
#include <stdlib.h>

namespace quorvane::text {

std::optional<std::int64_t> parseInt64(std::string_view s) {
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    // Accumulate as a negative number so that INT64_MIN parses too.
    std::int64_t acc = 0;
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (acc < (min + digit) / 10) return std::nullopt;
        acc = acc * 10 - digit;
    }
    if (negative) return acc;
    if (acc == min) return std::nullopt;
    return -acc;
}

std::optional<std::uint32_t> parseUInt32(std::string_view s) {
    const auto v = parseInt64(s);
    if (!v || *v < 0 || *v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::optional<double> parseDouble(std::string_view s) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s.front()))) return std::nullopt;
    // strtod follows LC_NUMERIC; option text is always read in the C locale.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    const std::string text(s);
    char* end = nullptr;
    const double v = strtod_l(text.c_str(), &end, cLocale);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return v;
}

double roundHalfAwayFromZero(double value, int places) {
    const double scale = std::pow(10.0, places);
    return std::round(value * scale) / scale;
}

void appendNumber(std::string& out, double value, bool allowExponent) {
    if (value == 0) {
        out += '0';
        return;
    }
    char buf[512];
    const double magnitude = std::fabs(value);
    const bool plain = !allowExponent || (magnitude >= 1e-6 && magnitude < 1e21);
    const auto r = plain ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                         : std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

std::string formatNumber(double value, bool allowExponent) {
    std::string s;
    appendNumber(s, value, allowExponent);
    return s;
}

} // namespace quorvane::text
