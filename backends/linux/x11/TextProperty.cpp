#include "x11/TextProperty.h"

#include "text/Utf8.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <clocale>
#include <mutex>

namespace quorvane::backends::x11 {
namespace {

// Xlib decodes COMPOUND_TEXT through the character set of LC_CTYPE. Only that
// category is taken from the environment: numbers keep the C locale.
void adoptCharacterLocale() {
    static std::once_flag once;
    std::call_once(once, [] { std::setlocale(LC_CTYPE, ""); });
}

std::optional<std::string> decodeWithXlib(const XcbConnection& connection, const Property& value) {
    adoptCharacterLocale();
    std::string bytes = value.bytes;
    XTextProperty property{};
    property.value = reinterpret_cast<unsigned char*>(bytes.data());
    property.encoding = value.type;
    property.format = value.format;
    property.nitems = bytes.size();
    char** list = nullptr;
    int count = 0;
    const int status =
        Xutf8TextPropertyToTextList(connection.xlibDisplay(), &property, &list, &count);
    if (status < Success || list == nullptr) return std::nullopt;
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i > 0) text += ' ';
        text += list[i];
    }
    XFreeStringList(list);
    return text::validUtf8(text);
}

} // namespace

std::string latin1ToUtf8(std::string_view latin1) {
    std::string utf8;
    utf8.reserve(latin1.size());
    for (const char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

std::optional<std::string> decodeText(const XcbConnection& connection, const Property& value) {
    if (value.format != 8) return std::nullopt;
    // A text property may hold a list separated by NUL; a title is its first item.
    const std::string_view first(value.bytes.data(),
                                 std::min(value.bytes.size(), value.bytes.find('\0')));
    if (value.type == XCB_ATOM_STRING) return latin1ToUtf8(first);
    if (value.type == connection.atom("UTF8_STRING")) return text::validUtf8(first);
    return decodeWithXlib(connection, value);
}

} // namespace quorvane::backends::x11
