#pragma once
// Checks that a text follows JSON's grammar and notes where the members of a
// top-level object are, without building any value. There is no limit on the
// size of numbers, on escapes (a lone \ud800 is grammatical) or on depth: the
// nesting is kept as one bit per level, and nothing recurses.
//
// The text may be fed in pieces (a line too long to be kept whole is looked
// at as it passes by); the scanner then keeps its own copy of the few values
// it reports.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::bridge {

enum class ValueKind : std::uint8_t { string, number, literal, object, array };

// The raw text of one top-level member's value, as written.
struct MemberValue {
    bool present = false;
    bool tooLong = false; // seen, but longer than a piecewise scan keeps
    ValueKind kind = ValueKind::literal;
    std::size_t begin = 0, end = 0; // offsets in the whole text
    std::string copy;               // the text itself, when fed in pieces
};

// Where one member of the top-level object lies: from its key's opening
// quote to the end of its value.
struct MemberSpan {
    std::size_t begin, end;
    bool isId;
};

class JsonScanner {
  public:
    // `keepCopies`: the text comes in pieces that do not stay readable, so
    // the "id" and "method" values are copied (up to copyLimit bytes each).
    // Other member names may take their places (id() and method() then
    // report those), for reading inside a member's own object.
    explicit JsonScanner(bool keepCopies = false, std::string_view idName = "id",
                         std::string_view methodName = "method")
        : keepCopies_(keepCopies), idName_(idName), methodName_(methodName) {}

    static constexpr std::size_t copyLimit = 1u << 20;
    // Deeper nesting is refused; a line short enough to be kept whole can
    // never reach it.
    static constexpr std::size_t maxDepth = std::size_t{1} << 27;

    // Lists every member of a top-level object in `spans` (whole texts only).
    void recordMembers(std::vector<MemberSpan>* spans) { spans_ = spans; }

    void feed(std::string_view piece);
    // True when the whole text fed was one JSON value with only white space
    // around it.
    bool finish();

    bool rootIsObject() const { return rootObject_; }
    std::size_t memberCount() const { return members_; }
    const MemberValue& id() const { return id_; }
    const MemberValue& method() const { return method_; }
    bool hasMethodMember() const { return method_.present; }

  private:
    enum class State : std::uint8_t {
        value,       // a value must come
        arrayFirst,  // after '[': a value or ']'
        objectFirst, // after '{': a key or '}'
        key,         // after ',' in an object: a key
        colon,
        afterValue, // ',' or the closing bracket; at depth 0 only white space
        string,
        escape,
        unicode,
        utf8,
        minus,
        zero,
        integer,
        dot,
        fraction,
        exponentStart,
        exponentSign,
        exponent,
        literal,
        error,
    };
    enum class Member : std::uint8_t { none, id, method, other };

    void fail() { state_ = State::error; }
    bool push(bool object);
    void startValue(std::size_t at, ValueKind kind);
    void endValue(std::size_t end);
    void endKey(std::size_t end);
    bool numberCharacter(unsigned char c);
    void keepCopy(std::size_t pieceBegin, std::size_t pieceEnd);
    MemberValue* capture();

    bool keepCopies_;
    std::string_view idName_, methodName_;
    std::vector<MemberSpan>* spans_ = nullptr;
    std::string_view piece_;
    std::size_t offset_ = 0; // of the current piece in the whole text

    State state_ = State::value;
    bool inKey_ = false;
    // One bit per open container, 1 for an object: the first 64 levels here,
    // deeper ones in kinds_.
    std::uint64_t firstKinds_ = 0;
    std::vector<std::uint64_t> kinds_;
    std::size_t depth_ = 0;
    int hexLeft_ = 0;
    int utf8Left_ = 0;
    unsigned char utf8Low_ = 0x80, utf8High_ = 0xBF;
    const char* literal_ = nullptr;
    bool rootObject_ = false;
    bool started_ = false;
    std::size_t members_ = 0;

    // The top-level member being read.
    Member member_ = Member::none;
    std::size_t keyBegin_ = 0;
    std::string key_; // raw key text, while it is short enough to matter
    bool keyLong_ = false;
    std::size_t valueBegin_ = 0;
    ValueKind valueKind_ = ValueKind::literal;
    bool valueOpen_ = false; // an "id" or "method" value is being read
    MemberValue id_, method_;
    MemberValue pending_; // the value being read, moved into place at its end
};

} // namespace quorvane::bridge
