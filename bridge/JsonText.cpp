#include "JsonText.h"

#include <cstdint>

namespace quorvane::bridge {
namespace {

// Beyond this many zeros between the digits and the decimal point, a number
// reads with an exponent: a dozen bytes of text never become a huge key.
constexpr std::int64_t plainZeros = 1024;

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::uint32_t hexValue(std::string_view four) {
    std::uint32_t v = 0;
    for (char ch : four) {
        const auto c = static_cast<unsigned char>(ch);
        v = v * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return v;
}

// A decimal magnitude of at least 10^18 moved by `delta` (|delta| < 10^18).
std::string shifted(std::string magnitude, bool negative, std::int64_t delta) {
    const bool away = (delta >= 0) != negative; // the magnitude grows
    std::uint64_t d = delta >= 0 ? static_cast<std::uint64_t>(delta)
                                 : static_cast<std::uint64_t>(-(delta + 1)) + 1;
    for (std::size_t i = magnitude.size(); i-- > 0 && d > 0;) {
        const int digit = magnitude[i] - '0';
        const int step = static_cast<int>(d % 10);
        d /= 10;
        int v = away ? digit + step : digit - step;
        if (v >= 10) {
            v -= 10;
            ++d;
        } else if (v < 0) {
            v += 10;
            ++d;
        }
        magnitude[i] = static_cast<char>('0' + v);
    }
    if (d > 0) magnitude.insert(0, std::to_string(d)); // only when growing
    const std::size_t first = magnitude.find_first_not_of('0');
    return magnitude.substr(first == std::string::npos ? magnitude.size() - 1 : first);
}

void appendScientific(std::string& out, std::string_view digits) {
    out += digits[0];
    if (digits.size() > 1) {
        out += '.';
        out.append(digits.substr(1));
    }
    out += 'e';
}

} // namespace

std::string decodeString(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t slash = s.find('\\', i);
        if (slash == std::string_view::npos) {
            out.append(s.substr(i));
            break;
        }
        out.append(s.substr(i, slash - i));
        const char e = s[slash + 1];
        i = slash + 2;
        switch (e) {
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'u': {
            std::uint32_t c = hexValue(s.substr(i, 4));
            i += 4;
            if (c >= 0xD800 && c < 0xDC00 && i + 6 <= s.size() && s[i] == '\\' && s[i + 1] == 'u') {
                const std::uint32_t low = hexValue(s.substr(i + 2, 4));
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    i += 6;
                }
            }
            appendUtf8(out, c);
            break;
        }
        default:
            out += e;
            break; // " \ /
        }
    }
    return out;
}

void appendCompact(std::string& out, std::string_view value) {
    bool inString = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (inString) {
            out += c;
            if (c == '\\') {
                out += value[++i];
            } else if (c == '"') {
                inString = false;
            }
        } else if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            out += c;
            inString = c == '"';
        }
    }
}

std::string numberKey(std::string_view t) {
    const bool negative = t[0] == '-';
    const std::size_t intEnd = t.find_first_of(".eE");
    if (intEnd == std::string_view::npos) {
        const std::size_t last = t.find_last_not_of('0');
        if (t.size() - 1 - last <= static_cast<std::size_t>(plainZeros))
            return t == "-0" ? std::string("0") : std::string(t);
    }
    const std::size_t start = negative ? 1 : 0;
    const std::size_t fracEnd = t.find_first_of("eE");
    std::string_view intPart = t.substr(start, std::min(intEnd, t.size()) - start);
    std::string_view frac;
    if (intEnd != std::string_view::npos && t[intEnd] == '.')
        frac = t.substr(intEnd + 1, std::min(fracEnd, t.size()) - intEnd - 1);
    bool expNegative = false;
    std::string_view expDigits;
    if (fracEnd != std::string_view::npos) {
        std::size_t p = fracEnd + 1;
        if (t[p] == '+' || t[p] == '-') expNegative = t[p++] == '-';
        expDigits = t.substr(p);
        const std::size_t nonZero = expDigits.find_first_not_of('0');
        expDigits =
            nonZero == std::string_view::npos ? std::string_view() : expDigits.substr(nonZero);
    }

    std::string digits;
    digits.reserve(intPart.size() + frac.size());
    digits.append(intPart).append(frac);
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return "0";
    const std::size_t last = digits.find_last_not_of('0');
    const auto trailing = static_cast<std::int64_t>(digits.size() - 1 - last);
    digits = digits.substr(first, last + 1 - first);
    const auto k = static_cast<std::int64_t>(digits.size());
    // value = digits x 10^(exponent + shift)
    const std::int64_t shift = trailing - static_cast<std::int64_t>(frac.size());

    std::string out = negative ? "-" : "";
    if (expDigits.size() > 18) {
        appendScientific(out, digits);
        if (expNegative) out += '-';
        out += shifted(std::string(expDigits), expNegative, shift + k - 1);
        return out;
    }
    std::int64_t exponent = 0;
    for (char c : expDigits)
        exponent = exponent * 10 + (c - '0');
    if (expNegative) exponent = -exponent;
    const std::int64_t e = exponent + shift;
    if (e >= 0 && e <= plainZeros) {
        out += digits;
        out.append(static_cast<std::size_t>(e), '0');
    } else if (e < 0 && k + e > 0) {
        out.append(digits, 0, static_cast<std::size_t>(k + e));
        out += '.';
        out.append(digits, static_cast<std::size_t>(k + e));
    } else if (e < 0 && -(k + e) <= plainZeros) {
        out += "0.";
        out.append(static_cast<std::size_t>(-(k + e)), '0');
        out += digits;
    } else {
        appendScientific(out, digits);
        out += std::to_string(e + k - 1);
    }
    return out;
}

} // namespace quorvane::bridge
