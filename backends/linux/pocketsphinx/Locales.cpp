#include "pocketsphinx/Locales.h"

#include "platform/SpeechEngine.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace quorvane::backends::pocketsphinx {
namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool allOf(std::string_view s, bool (*pred)(char)) {
    return std::all_of(s.begin(), s.end(), pred);
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The identifier's subtags, without a POSIX code set (".UTF-8") or modifier ("@euro").
std::vector<std::string_view> subtags(std::string_view id) {
    id = id.substr(0, id.find_first_of(".@"));
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= id.size()) {
        const std::size_t end = std::min(id.find_first_of("-_", start), id.size());
        parts.push_back(id.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool isPosixDefault(std::string_view id) {
    id = id.substr(0, id.find_first_of(".@"));
    return id == "C" || id == "POSIX";
}

} // namespace

std::optional<LocaleParts> parseLocale(std::string_view identifier) {
    const auto parts = subtags(identifier);
    if (parts.empty()) return std::nullopt;
    const std::string_view language = parts[0];
    if (language.size() < 2 || language.size() > 3 || !allOf(language, isAlpha))
        return std::nullopt;
    LocaleParts result{lower(language), {}, {}};
    std::size_t i = 1;
    if (i < parts.size() && parts[i].size() == 4 && allOf(parts[i], isAlpha)) {
        result.script = lower(parts[i]);
        result.script[0] =
            static_cast<char>(std::toupper(static_cast<unsigned char>(result.script[0])));
        ++i;
    }
    if (i < parts.size() && ((parts[i].size() == 2 && allOf(parts[i], isAlpha)) ||
                             (parts[i].size() == 3 && allOf(parts[i], isDigit))))
        result.region = upper(parts[i]);
    return result;
}

std::string normaliseLocale(std::string_view identifier) {
    if (isPosixDefault(identifier)) return "en-US";
    const auto parts = parseLocale(identifier);
    if (!parts) return std::string(identifier);
    std::string out = parts->language;
    if (!parts->script.empty()) out += "-" + parts->script;
    if (!parts->region.empty()) out += "-" + parts->region;
    return out;
}

bool isEquivalent(const LocaleParts& requested, const LocaleParts& supported) {
    if (requested.language != supported.language) return false;
    return requested.region.empty() || requested.region == supported.region;
}

std::string localeFromEnvironment(const std::function<const char*(const char*)>& getenv) {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv(name);
        if (value && *value) return normaliseLocale(value);
    }
    return "en-US";
}

} // namespace quorvane::backends::pocketsphinx

namespace quorvane::platform {

std::string currentLocaleIdentifier() {
    return backends::pocketsphinx::localeFromEnvironment(
        [](const char* name) { return std::getenv(name); });
}

} // namespace quorvane::platform
