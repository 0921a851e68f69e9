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

// An id as the bridge keeps it: its key (in the unanswered table) and
// whatever else it takes to write the id again exactly as received.
struct IdJson {
    IdKind kind = IdKind::other;
    // The id's JSON text when it cannot be rebuilt from the key: a string
    // written with escapes, a number not written in its key's form, and
    // every id of another type.
    std::string raw;

    std::string json(const std::string& key) const;
};

// Keys of ids that are neither strings nor numbers start with this byte,
// which no UTF-8 text holds: null and "null", or [1,2] and "[1,2]", are
// different ids.
inline constexpr char otherIdTag = '\xff';

struct Classification {
    bool object = false;               // a JSON object with at least one member
    std::optional<std::string> method; // member "method" when it is a string
    bool hasMethodMember = false;      // member "method" of any type
    bool hasId = false;                // member "id" of any type
    // The id's key: a string id itself; a number in decimal (numberKey), so
    // 7 and "7" share one key; other values otherIdTag and their compact
    // JSON text.
    std::string idKey;
    IdJson id;

    bool isRequest() const { return method && hasId; }
    bool idHasPrefix(std::string_view prefix) const {
        return hasId && id.kind == IdKind::string && idKey.starts_with(prefix);
    }
    // The id as compact JSON, of the type received.
    std::string idJson() const { return id.json(idKey); }
};

// A UTF-8 byte-order mark at the start of a line is not part of its JSON.
inline constexpr std::string_view byteOrderMark = "\xef\xbb\xbf";
std::string_view withoutByteOrderMark(std::string_view line);

// Anything that breaks JSON's grammar, and anything but a non-empty object,
// has no method and no id.
Classification classify(std::string_view line);

// The key of the request that a "notifications/cancelled" line names (its
// params.requestId), or nothing when it names none.
std::optional<std::string> cancelledRequestKey(std::string_view line);

// The same for a line that passes by in pieces without being kept: used for
// lines too long to relay, whose id may still deserve an answer. Such a line
// is judged by what its start shows: when it breaks the grammar somewhere,
// the members complete before the break still count.
class StreamClassifier {
  public:
    void feed(std::string_view piece);
    // The line's classification; the classifier is then ready for the next.
    Classification finish();

  private:
    JsonScanner scanner_{true};
    // Bytes of the line's start that matched the byte-order mark so far;
    // past the mark once it is whole or cannot be.
    std::size_t markMatched_ = 0;
    bool pastMark_ = false;
};

} // namespace quorvane::bridge
