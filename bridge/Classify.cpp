#include "Classify.h"

#include "JsonText.h"

namespace quorvane::bridge {
namespace {

// `whole` is the text when it was scanned whole; otherwise the scanner kept
// copies of the values.
std::string_view rawValue(const MemberValue& value, std::string_view whole) {
    if (whole.data()) return whole.substr(value.begin, value.end - value.begin);
    return value.copy;
}

// With `partial`, a text that breaks the grammar still tells what its members
// showed before the break.
Classification classificationOf(JsonScanner& scanner, std::string_view whole, bool partial) {
    Classification out;
    const bool grammatical = scanner.finish();
    if ((!grammatical && !partial) || !scanner.rootIsObject() || scanner.memberCount() == 0)
        return out;
    out.object = true;
    out.hasMethodMember = scanner.hasMethodMember();
    const MemberValue& method = scanner.method();
    if (method.present && method.kind == ValueKind::string) {
        const std::string_view raw = rawValue(method, whole);
        // A method too long to be kept still makes a request; it names
        // nothing the bridge looks for.
        out.method = method.tooLong ? std::string() : decodeString(raw.substr(1, raw.size() - 2));
    }
    const MemberValue& id = scanner.id();
    if (!id.present || id.tooLong) return out;
    out.hasId = true;
    const std::string_view raw = rawValue(id, whole);
    switch (id.kind) {
    case ValueKind::string:
        out.id.kind = IdKind::string;
        out.idText = decodeString(raw.substr(1, raw.size() - 2));
        if (raw.find('\\') != std::string_view::npos) out.id.raw = raw;
        break;
    case ValueKind::number:
        out.id.kind = IdKind::number;
        out.idText = numberKey(raw);
        if (out.idText != raw) out.id.raw = raw;
        break;
    default:
        appendCompact(out.idText, raw);
        break;
    }
    return out;
}

} // namespace

std::string IdJson::json(const std::string& text) const {
    if (!raw.empty()) return raw;
    if (kind == IdKind::string) return '"' + text + '"';
    return text;
}

Classification classify(std::string_view line) {
    JsonScanner scanner;
    scanner.feed(line);
    // A view that is never null, even for an empty line.
    return classificationOf(scanner, line.data() ? line : std::string_view("", 0), false);
}

Classification StreamClassifier::finish() {
    Classification out = classificationOf(scanner_, std::string_view(), true);
    scanner_ = JsonScanner(true);
    return out;
}

} // namespace quorvane::bridge
