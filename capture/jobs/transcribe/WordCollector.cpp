#include "jobs/transcribe/WordCollector.h"

#include <cstdint>

namespace quorvane::jobs::transcribe {
namespace {

bool isWhitespace(char32_t c) {
    switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

// The code point starting at `i` and its length in bytes; a broken sequence
// counts as one non-space byte.
std::pair<char32_t, std::size_t> decodeAt(std::string_view s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80           ? 1
                      : (b >> 5) == 0x6  ? 2
                      : (b >> 4) == 0xE  ? 3
                      : (b >> 3) == 0x1E ? 4
                                         : 0;
    if (len == 0 || i + len > s.size()) return {0xFFFD, 1};
    if (len == 1) return {b, 1};
    char32_t c = b & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        const auto cont = static_cast<unsigned char>(s[i + k]);
        if ((cont & 0xC0) != 0x80) return {0xFFFD, 1};
        c = (c << 6) | (cont & 0x3F);
    }
    return {c, len};
}

} // namespace

std::string trimWhitespace(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        auto [c, len] = decodeAt(text, begin);
        if (!isWhitespace(c)) break;
        begin += len;
    }
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size();) {
        auto [c, len] = decodeAt(text, i);
        i += len;
        if (!isWhitespace(c)) end = i;
    }
    return std::string(text.substr(begin, end - begin));
}

void WordCollector::add(const platform::SpeechResult& result) {
    for (const auto& run : result.runs) {
        if (!run.timeRange) continue;
        std::string text = trimWhitespace(run.text);
        if (text.empty()) continue;
        words_.push_back({std::move(text), run.timeRange->start, run.timeRange->end});
    }
}

} // namespace quorvane::jobs::transcribe
