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
        out.idKey = decodeString(raw.substr(1, raw.size() - 2));
        if (raw.find('\\') != std::string_view::npos) out.id.raw = raw;
        break;
    case ValueKind::number:
        out.id.kind = IdKind::number;
        out.idKey = numberKey(raw);
        if (out.idKey != raw) out.id.raw = raw;
        break;
    default:
        appendCompact(out.id.raw, raw);
        out.idKey.reserve(out.id.raw.size() + 1);
        out.idKey += otherIdTag;
        out.idKey += out.id.raw;
        break;
    }
    return out;
}

} // namespace

std::string IdJson::json(const std::string& key) const {
    if (!raw.empty()) return raw;
    if (kind == IdKind::string) return '"' + key + '"';
    return key;
}

std::string_view withoutByteOrderMark(std::string_view line) {
    return line.starts_with(byteOrderMark) ? line.substr(byteOrderMark.size()) : line;
}

Classification classify(std::string_view line) {
    line = withoutByteOrderMark(line);
    JsonScanner scanner;
    scanner.feed(line);
    // A view that is never null, even for an empty line.
    return classificationOf(scanner, line.data() ? line : std::string_view("", 0), false);
}

std::optional<std::string> cancelledRequestKey(std::string_view line) {
    line = withoutByteOrderMark(line);
    // The "params" object takes the place of the method.
    JsonScanner outer(false, "id", "params");
    outer.feed(line);
    if (!outer.finish() || !outer.rootIsObject()) return std::nullopt;
    const MemberValue& params = outer.method();
    if (!params.present || params.kind != ValueKind::object) return std::nullopt;
    const std::string_view inner = line.substr(params.begin, params.end - params.begin);
    JsonScanner scanner(false, "requestId");
    scanner.feed(inner);
    Classification request = classificationOf(scanner, inner, false);
    if (!request.hasId) return std::nullopt;
    return std::move(request.idKey);
}

void StreamClassifier::feed(std::string_view piece) {
    // The mark may come cut across pieces: its bytes are held back until it
    // is whole, and given to the scanner after all when it turns out not to
    // be a mark.
    while (!pastMark_ && !piece.empty()) {
        if (piece.front() == byteOrderMark[markMatched_]) {
            piece.remove_prefix(1);
            if (++markMatched_ == byteOrderMark.size()) pastMark_ = true;
            continue;
        }
        if (markMatched_ > 0) scanner_.feed(byteOrderMark.substr(0, markMatched_));
        pastMark_ = true;
    }
    if (!piece.empty()) scanner_.feed(piece);
}

Classification StreamClassifier::finish() {
    if (!pastMark_ && markMatched_ > 0) scanner_.feed(byteOrderMark.substr(0, markMatched_));
    Classification out = classificationOf(scanner_, std::string_view(), true);
    scanner_ = JsonScanner(true);
    markMatched_ = 0;
    pastMark_ = false;
    return out;
}

} // namespace quorvane::bridge
