#pragma once
// Locale identifiers: the environment's POSIX names and the model folders'
// lower-case names, both brought to BCP-47, and which locales are equivalent.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::backends::pocketsphinx {

struct LocaleParts {
    std::string language; // lower case, 2–3 letters
    std::string script;   // title case, 4 letters, or empty
    std::string region;   // upper case, 2 letters or 3 digits, or empty
};

// Parses "en_US.UTF-8", "en-us", "zh-Hant-TW", "de@euro"…; nothing when the
// text does not start with a language subtag ("C", "", "123").
std::optional<LocaleParts> parseLocale(std::string_view identifier);

// The BCP-47 form: "en_US.UTF-8" → "en-US", "en-us" → "en-US". The POSIX
// locales "C" and "POSIX" are American English. Text that names no locale is
// returned unchanged.
std::string normaliseLocale(std::string_view identifier);

// Whether a model for `supported` serves a request for `requested`: the same
// language and region, or the same language when the request names no region.
bool isEquivalent(const LocaleParts& requested, const LocaleParts& supported);

// The user's locale from LC_ALL, LC_MESSAGES, then LANG (the first one set
// and not empty), in BCP-47 form; "en-US" when none is set.
std::string localeFromEnvironment(const std::function<const char*(const char*)>& getenv);

} // namespace quorvane::backends::pocketsphinx
