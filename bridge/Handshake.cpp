#include "Handshake.h"

#include "Texts.h"

#include <cstring>
#include <simdjson.h>
#include <vector>

namespace quorvane::bridge {
namespace {

// Walks compact, already validated JSON text. Every step stays inside the
// text even if it were not.
class CompactScanner {
  public:
    explicit CompactScanner(std::string_view text) : text_(text) {}

    std::size_t skipString(std::size_t p) const {
        for (++p; p < text_.size(); ++p) {
            if (text_[p] == '\\')
                ++p;
            else if (text_[p] == '"')
                return p + 1;
        }
        return text_.size();
    }

    std::size_t skipValue(std::size_t p) const {
        if (p >= text_.size()) return p;
        char c = text_[p];
        if (c == '"') return skipString(p);
        if (c == '{' || c == '[') {
            int depth = 0;
            while (p < text_.size()) {
                c = text_[p];
                if (c == '"') {
                    p = skipString(p);
                    continue;
                }
                if (c == '{' || c == '[') ++depth;
                if ((c == '}' || c == ']') && --depth == 0) return p + 1;
                ++p;
            }
            return p;
        }
        while (p < text_.size() && text_[p] != ',' && text_[p] != '}' && text_[p] != ']')
            ++p;
        return p;
    }

    // Raw text of each member of the top-level object, in order.
    std::vector<std::string_view> members() const {
        std::vector<std::string_view> out;
        std::size_t p = 1;
        if (text_.size() < 2 || text_[0] != '{' || text_[p] == '}') return out;
        while (p < text_.size()) {
            const std::size_t start = p;
            p = skipString(p) + 1; // the key and its colon
            p = skipValue(p);
            out.push_back(text_.substr(start, p - start));
            if (p >= text_.size() || text_[p] != ',') break;
            ++p;
        }
        return out;
    }

  private:
    std::string_view text_;
};

} // namespace

std::optional<std::string> handshakeMembers(std::string_view line) {
    simdjson::dom::parser parser;
    simdjson::padded_string padded(line);
    simdjson::dom::object object;
    if (parser.parse(padded).get_object().get(object) != simdjson::SUCCESS) return std::nullopt;

    // Minifying the text (not the parsed values) keeps numbers and escapes
    // exactly as written.
    std::string compact(line.size() + simdjson::SIMDJSON_PADDING, '\0');
    std::size_t compactSize = 0;
    if (simdjson::minify(line.data(), line.size(), compact.data(), compactSize) !=
        simdjson::SUCCESS)
        return std::nullopt;
    compact.resize(compactSize);

    // The parsed keys (escapes resolved) tell which raw member is "id".
    auto raw = CompactScanner(compact).members();
    std::string kept;
    std::size_t index = 0;
    for (auto field : object) {
        if (index >= raw.size()) return std::nullopt;
        if (field.key != "id") {
            if (!kept.empty()) kept += ',';
            kept += raw[index];
        }
        ++index;
    }
    if (index != raw.size()) return std::nullopt;
    return kept;
}

std::string replayedInitialize(const std::string& members, std::int64_t connection) {
    std::string line;
    line.reserve(members.size() + 48);
    line += '{';
    line += members;
    if (!members.empty()) line += ',';
    line += "\"id\":\"";
    line += ownIdPrefix;
    line += std::to_string(connection);
    line += "\"}\n";
    return line;
}

} // namespace quorvane::bridge
