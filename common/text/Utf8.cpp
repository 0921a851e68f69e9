#include "text/Utf8.h"

#include <cstdio>

namespace quorvane::text {

Decoded decodeAt(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) return {c, 1, true};
    std::size_t n;
    char32_t cp;
    // The second byte's range depends on the first: this is what keeps out
    // overlong forms (E0, F0), surrogates (ED) and values above U+10FFFF (F4).
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return {0xFFFD, 1, false};
    }
    for (std::size_t k = 1; k < n; ++k) {
        const bool inRange = i + k < s.size() && byte(i + k) >= (k == 1 ? lo : 0x80) &&
                             byte(i + k) <= (k == 1 ? hi : 0xBF);
        if (!inRange) return {0xFFFD, k, false};
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    return {cp, n, true};
}

bool isValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const Decoded d = decodeAt(s, i);
        if (!d.valid) return false;
        i += d.length;
    }
    return true;
}

std::string validUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const Decoded d = decodeAt(s, i);
        if (d.valid)
            out.append(s.substr(i, d.length));
        else
            out += "\xEF\xBF\xBD";
        i += d.length;
    }
    return out;
}

std::string oneLine(std::string_view s) {
    const std::string valid = validUtf8(s);
    std::string out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size();) {
        const Decoded d = decodeAt(valid, i);
        const char32_t c = d.codePoint;
        char buf[8];
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(c));
            out += buf;
        } else if ((c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029) {
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        } else {
            out.append(valid, i, d.length);
        }
        i += d.length;
    }
    return out;
}

} // namespace quorvane::text
