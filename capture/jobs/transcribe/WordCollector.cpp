#include "jobs/transcribe/WordCollector.h"

#include "text/Utf8.h"

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
// counts as U+FFFD, which is not white space.
std::pair<char32_t, std::size_t> decodeAt(std::string_view s, std::size_t i) {
    const text::Decoded d = text::decodeAt(s, i);
    return {d.codePoint, d.length};
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
        std::string text = text::validUtf8(trimWhitespace(run.text));
        if (text.empty()) continue;
        words_.push_back({std::move(text), run.timeRange->start, run.timeRange->end});
    }
}

} // namespace quorvane::jobs::transcribe
