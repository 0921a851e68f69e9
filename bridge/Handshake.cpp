#include "Handshake.h"

#include "Classify.h"
#include "JsonScanner.h"
#include "JsonText.h"
#include "Texts.h"

#include <vector>

namespace quorvane::bridge {

std::optional<std::string> handshakeMembers(std::string_view line) {
    line = withoutByteOrderMark(line);
    std::vector<MemberSpan> members;
    JsonScanner scanner;
    scanner.recordMembers(&members);
    scanner.feed(line);
    if (!scanner.finish() || !scanner.rootIsObject()) return std::nullopt;
    // Compacting the text (not parsed values) keeps numbers and escapes
    // exactly as written.
    std::string kept;
    for (const MemberSpan& member : members) {
        if (member.isId) continue;
        if (!kept.empty()) kept += ',';
        appendCompact(kept, line.substr(member.begin, member.end - member.begin));
    }
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
