#include "json/Writer.h"

#include "text/Numbers.h"
#include "text/Utf8.h"

#include <cmath>

namespace quorvane::json {
namespace {

void appendNumberChecked(std::string& out, double v, bool allowExponent) {
    if (!std::isfinite(v))
        throw EncodingError("A number that is not finite cannot be written as JSON.");
    text::appendNumber(out, v, allowExponent);
}

struct Emitter {
    std::string& out;

    void operator()(std::nullptr_t) const { out += "null"; }
    void operator()(bool b) const { out += b ? "true" : "false"; }
    void operator()(std::int64_t i) const { out += std::to_string(i); }
    void operator()(double d) const { appendNumberChecked(out, d, true); }
    void operator()(Decimal d) const { appendNumberChecked(out, d.value, false); }
    void operator()(const std::string& s) const { appendString(out, s); }
    void operator()(const Array& a) const {
        out += '[';
        bool first = true;
        for (const auto& v : a) {
            if (!first) out += ',';
            first = false;
            std::visit(*this, v.storage());
        }
        out += ']';
    }
    void operator()(const Object& o) const {
        out += '{';
        bool first = true;
        for (const auto& [k, v] : o) {
            if (!first) out += ',';
            first = false;
            appendString(out, k);
            out += ':';
            std::visit(*this, v.storage());
        }
        out += '}';
    }
};

} // namespace

void appendString(std::string& out, std::string_view text) {
    if (!text::isValidUtf8(text))
        throw EncodingError("A text that is not valid UTF-8 cannot be written as JSON.");
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '/':
            out += "\\/";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out += hex[(c >> 4) & 0xF];
                out += hex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

std::string serialize(const Value& value) {
    std::string out;
    std::visit(Emitter{out}, value.storage());
    return out;
}

std::optional<std::string> trySerialize(const Value& value) {
    try {
        return serialize(value);
    } catch (const EncodingError&) {
        return std::nullopt;
    }
}

} // namespace quorvane::json
