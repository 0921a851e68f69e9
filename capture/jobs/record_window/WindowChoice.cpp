#include "jobs/record_window/WindowChoice.h"

#include "text/Utf8.h"

#include <algorithm>
#include <clocale>
#include <cwctype>
#include <langinfo.h>
#include <locale.h>

namespace quorvane::jobs::record_window {
namespace {

// The user's character rules when they are Unicode ones, else C.UTF-8's, so
// that names outside ASCII still compare without regard to case.
locale_t caseLocale() {
    static const locale_t locale = [] {
        locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
        if (user) {
            const char* codeset = ::nl_langinfo_l(CODESET, user);
            if (codeset && std::string_view(codeset) == "UTF-8") return user;
            ::freelocale(user);
        }
        locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return utf8 ? utf8 : ::newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }();
    return locale;
}

// Code points of `text`, lower-cased; a byte that is not valid UTF-8 stands
// for itself in a range no character uses, so it only matches the same byte.
std::u32string folded(std::string_view text) {
    const locale_t locale = caseLocale();
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const text::Decoded d = text::decodeAt(text, i);
        if (!d.valid) {
            for (std::size_t k = 0; k < d.length; ++k)
                out.push_back(0x110000 + static_cast<unsigned char>(text[i + k]));
        } else {
            out.push_back(locale ? static_cast<char32_t>(
                                       ::towlower_l(static_cast<wint_t>(d.codePoint), locale))
                                 : d.codePoint);
        }
        i += d.length;
    }
    return out;
}

} // namespace

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    if (part.empty()) return false;
    return folded(text).find(folded(part)) != std::u32string::npos;
}

std::optional<platform::Window> chooseWindow(const std::vector<platform::Window>& windows,
                                             std::optional<std::uint32_t> windowId,
                                             const std::optional<std::string>& app) {
    std::vector<const platform::Window*> candidates;
    for (const auto& w : windows) {
        if (windowId) {
            if (w.windowID == *windowId) candidates.push_back(&w);
        } else if (app) {
            const std::string name =
                w.owningApplication ? w.owningApplication->applicationName : "";
            if (containsIgnoringCase(name, *app)) candidates.push_back(&w);
        }
    }
    const platform::Window* choice = nullptr;
    double largest = 0;
    for (const auto* w : candidates) {
        const double area = w->frame.width * w->frame.height;
        if (!choice || area > largest) {
            choice = w;
            largest = area;
        }
    }
    if (!choice) return std::nullopt;
    return *choice;
}

} // namespace quorvane::jobs::record_window
