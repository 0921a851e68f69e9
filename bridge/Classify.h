#pragma once
// What the bridge needs to know of one JSON-RPC line: whether it is a
// non-empty object, its method and its id. Lines are checked against JSON's
// grammar whatever the size of their numbers, their escapes or their depth,
// and never re-serialised; only the id is written again, for the bridge's own
// replies.
#include "JsonScanner.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::bridge {

enum class IdKind : std::uint8_t { string, number, other };

// An id as the bridge keeps it: its text (the key of the unanswered table)
// and whatever else it takes to write the id again exactly as received.
struct IdJson {
    IdKind kind = IdKind::other;
    // The id's JSON text when it cannot be rebuilt from the id's text: a
    // string written with escapes, a number not written in its key's form.
    std::string raw;

    std::string json(const std::string& text) const;
};

struct Classification {
    bool object = false;               // a JSON object with at least one member
    std::optional<std::string> method; // member "method" when it is a string
    bool hasMethodMember = false;      // member "method" of any type
    bool hasId = false;                // member "id" of any type
    // The id's text: a string id itself; a number in decimal (numberKey), so
    // 7 and "7" share one text; other values their compact JSON text.
    std::string idText;
    IdJson id;

    bool isRequest() const { return method && hasId; }
    bool idHasPrefix(std::string_view prefix) const {
        return hasId && id.kind == IdKind::string && idText.starts_with(prefix);
    }
    // The id as compact JSON, of the type received.
    std::string idJson() const { return id.json(idText); }
};

// Anything that breaks JSON's grammar, and anything but a non-empty object,
// has no method and no id.
Classification classify(std::string_view line);

// The same for a line that passes by in pieces without being kept: used for
// lines too long to relay, whose id may still deserve an answer. Such a line
// is judged by what its start shows: when it breaks the grammar somewhere,
// the members complete before the break still count.
class StreamClassifier {
  public:
    void feed(std::string_view piece) { scanner_.feed(piece); }
    // The line's classification; the classifier is then ready for the next.
    Classification finish();

  private:
    JsonScanner scanner_{true};
};

} // namespace quorvane::bridge
