#include "JsonScanner.h"

#include "JsonText.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvane::bridge {
namespace {

constexpr std::uint64_t ones = 0x0101010101010101ull;
constexpr std::uint64_t highs = 0x8080808080808080ull;

constexpr std::uint64_t hasZeroByte(std::uint64_t v) {
    return (v - ones) & ~v & highs;
}

// Whether any of the eight bytes ends a plain run inside a string: a quote,
// a backslash, a control character or the start of a multi-byte sequence.
inline bool endsPlainRun(std::uint64_t w) {
    return (hasZeroByte(w ^ (ones * '"')) | hasZeroByte(w ^ (ones * '\\')) |
            ((w - ones * 0x20) & ~w & highs) | (w & highs)) != 0;
}

// Skips the bytes of a string that need no second look, from `i` on.
inline std::size_t skipPlain(const unsigned char* s, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(0x20);
    while (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        // Signed: bytes from 0x80 on are negative, so one comparison finds
        // both control characters and multi-byte sequences.
        const __m128i special =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                         _mm_cmplt_epi8(v, space));
        const int mask = _mm_movemask_epi8(special);
        if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
        i += 16;
    }
#endif
    while (i + 8 <= n) {
        std::uint64_t w;
        std::memcpy(&w, s + i, 8);
        if (endsPlainRun(w)) break;
        i += 8;
    }
    while (i < n && s[i] != '"' && s[i] != '\\' && s[i] >= 0x20 && s[i] < 0x80)
        ++i;
    return i;
}

bool isHexDigit(unsigned char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

// Longest raw key that can still spell a member name looked for (such as
// "id" or "method") with escapes.
constexpr std::size_t keyLimit = 64;

} // namespace

bool JsonScanner::push(bool object) {
    if (depth_ >= maxDepth) return false;
    const std::size_t word = depth_ / 64;
    std::uint64_t* bits = &firstKinds_;
    if (word > 0) {
        if (word > kinds_.size()) kinds_.push_back(0);
        bits = &kinds_[word - 1];
    }
    const std::uint64_t bit = std::uint64_t{1} << (depth_ % 64);
    if (object)
        *bits |= bit;
    else
        *bits &= ~bit;
    ++depth_;
    return true;
}

MemberValue* JsonScanner::capture() {
    if (depth_ != 1 || !rootObject_) return nullptr;
    if (member_ == Member::id) return &id_;
    if (member_ == Member::method) return &method_;
    return nullptr;
}

void JsonScanner::startValue(std::size_t at, ValueKind kind) {
    if (depth_ == 0) {
        started_ = true;
        rootObject_ = kind == ValueKind::object;
        return;
    }
    if (depth_ == 1 && rootObject_) {
        valueBegin_ = at;
        valueKind_ = kind;
        pending_ = MemberValue{};
        valueOpen_ = capture() != nullptr;
    }
}

void JsonScanner::endValue(std::size_t end) {
    state_ = State::afterValue;
    if (depth_ != 1 || !rootObject_) return;
    if (MemberValue* target = capture()) {
        if (keepCopies_) keepCopy(offset_, end);
        valueOpen_ = false;
        pending_.present = true;
        pending_.kind = valueKind_;
        pending_.begin = valueBegin_;
        pending_.end = end;
        // With repeated members the last one counts.
        *target = std::move(pending_);
        pending_ = MemberValue{};
    }
    if (spans_) spans_->push_back(MemberSpan{keyBegin_, end, member_ == Member::id});
    member_ = Member::none;
}

void JsonScanner::endKey(std::size_t end) {
    inKey_ = false;
    state_ = State::colon;
    if (depth_ != 1 || !rootObject_) return;
    ++members_;
    // The key's text between its quotes, as far as it was kept.
    const std::size_t from = std::max(keyBegin_ + 1, offset_);
    const std::size_t to = end - 1;
    if (!keyLong_ && key_.size() + (to - from) <= keyLimit)
        key_.append(piece_.substr(from - offset_, to - from));
    else
        keyLong_ = true;
    member_ = Member::other;
    if (!keyLong_) {
        const std::string name =
            key_.find('\\') == std::string::npos ? std::move(key_) : decodeString(key_);
        if (name == idName_)
            member_ = Member::id;
        else if (name == methodName_)
            member_ = Member::method;
    }
}

// At the end of a piece, or of a kept value inside it: the bytes of the open
// key and value that lie in the piece before `end`.
void JsonScanner::keepCopy(std::size_t pieceBegin, std::size_t end) {
    if (!valueOpen_ || pending_.tooLong) return;
    const std::size_t from = std::max(valueBegin_, pieceBegin);
    if (end <= from) return;
    if (pending_.copy.size() + (end - from) > copyLimit) {
        pending_.tooLong = true;
        pending_.copy = std::string();
        return;
    }
    pending_.copy.append(piece_.substr(from - offset_, end - from));
}

bool JsonScanner::numberCharacter(unsigned char c) {
    const bool digit = c >= '0' && c <= '9';
    switch (state_) {
    case State::minus:
        if (!digit) return false;
        state_ = c == '0' ? State::zero : State::integer;
        return true;
    case State::zero:
    case State::integer:
        if (digit && state_ == State::integer) return true;
        if (c == '.') {
            state_ = State::dot;
            return true;
        }
        if (c == 'e' || c == 'E') {
            state_ = State::exponentStart;
            return true;
        }
        return false;
    case State::dot:
        if (!digit) return false;
        state_ = State::fraction;
        return true;
    case State::fraction:
        if (digit) return true;
        if (c == 'e' || c == 'E') {
            state_ = State::exponentStart;
            return true;
        }
        return false;
    case State::exponentStart:
        if (c == '+' || c == '-') {
            state_ = State::exponentSign;
            return true;
        }
        [[fallthrough]];
    case State::exponentSign:
        if (!digit) return false;
        state_ = State::exponent;
        return true;
    case State::exponent:
        return digit;
    default:
        return false;
    }
}

void JsonScanner::feed(std::string_view piece) {
    piece_ = piece;
    const auto* s = reinterpret_cast<const unsigned char*>(piece.data());
    const std::size_t n = piece.size();
    std::size_t i = 0;
    while (i < n && state_ != State::error) {
        switch (state_) {
        case State::string: {
            i = skipPlain(s, i, n);
            if (i == n) break;
            const unsigned char c = s[i++];
            if (c == '"') {
                if (inKey_)
                    endKey(offset_ + i);
                else
                    endValue(offset_ + i);
            } else if (c == '\\') {
                state_ = State::escape;
            } else if (c < 0x20) {
                fail();
            } else {
                // The start of a multi-byte sequence: what the next byte may
                // be (no overlong forms, no raw surrogates, nothing past
                // U+10FFFF), and how many follow.
                utf8Low_ = 0x80;
                utf8High_ = 0xBF;
                if (c >= 0xC2 && c <= 0xDF) {
                    utf8Left_ = 1;
                } else if (c >= 0xE0 && c <= 0xEF) {
                    utf8Left_ = 2;
                    if (c == 0xE0) utf8Low_ = 0xA0;
                    if (c == 0xED) utf8High_ = 0x9F;
                } else if (c >= 0xF0 && c <= 0xF4) {
                    utf8Left_ = 3;
                    if (c == 0xF0) utf8Low_ = 0x90;
                    if (c == 0xF4) utf8High_ = 0x8F;
                } else {
                    fail();
                    break;
                }
                state_ = State::utf8;
            }
            break;
        }
        case State::escape: {
            const unsigned char c = s[i++];
            if (c == 'u') {
                hexLeft_ = 4;
                state_ = State::unicode;
            } else if (c == '"' || c == '\\' || c == '/' || c == 'b' || c == 'f' || c == 'n' ||
                       c == 'r' || c == 't') {
                state_ = State::string;
            } else {
                fail();
            }
            break;
        }
        case State::unicode:
            if (!isHexDigit(s[i++])) {
                fail();
            } else if (--hexLeft_ == 0) {
                state_ = State::string;
            }
            break;
        case State::utf8: {
            const unsigned char c = s[i++];
            if (c < utf8Low_ || c > utf8High_) {
                fail();
                break;
            }
            utf8Low_ = 0x80;
            utf8High_ = 0xBF;
            if (--utf8Left_ == 0) state_ = State::string;
            break;
        }
        case State::minus:
        case State::zero:
        case State::integer:
        case State::dot:
        case State::fraction:
        case State::exponentStart:
        case State::exponentSign:
        case State::exponent: {
            const State before = state_;
            if (numberCharacter(s[i])) {
                ++i;
                break;
            }
            if (before == State::zero || before == State::integer || before == State::fraction ||
                before == State::exponent) {
                state_ = before;
                endValue(offset_ + i); // the byte is looked at again below
            } else {
                fail();
            }
            break;
        }
        case State::literal:
            if (s[i++] != static_cast<unsigned char>(*literal_)) {
                fail();
            } else if (*++literal_ == '\0') {
                endValue(offset_ + i);
            }
            break;
        default: {
            const unsigned char c = s[i];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                ++i;
                break;
            }
            const std::size_t at = offset_ + i++;
            switch (state_) {
            case State::arrayFirst:
            case State::value:
                if (state_ == State::arrayFirst && c == ']') {
                    --depth_;
                    endValue(at + 1);
                    break;
                }
                if (c == '{') {
                    startValue(at, ValueKind::object);
                    if (!push(true))
                        fail();
                    else
                        state_ = State::objectFirst;
                } else if (c == '[') {
                    startValue(at, ValueKind::array);
                    if (!push(false))
                        fail();
                    else
                        state_ = State::arrayFirst;
                } else if (c == '"') {
                    startValue(at, ValueKind::string);
                    inKey_ = false;
                    state_ = State::string;
                } else if (c == '-' || (c >= '0' && c <= '9')) {
                    startValue(at, ValueKind::number);
                    state_ = c == '-' ? State::minus : c == '0' ? State::zero : State::integer;
                } else if (c == 't' || c == 'f' || c == 'n') {
                    startValue(at, ValueKind::literal);
                    literal_ = c == 't' ? "rue" : c == 'f' ? "alse" : "ull";
                    state_ = State::literal;
                } else {
                    fail();
                }
                break;
            case State::objectFirst:
            case State::key:
                if (state_ == State::objectFirst && c == '}') {
                    --depth_;
                    endValue(at + 1);
                    break;
                }
                if (c != '"') {
                    fail();
                    break;
                }
                if (depth_ == 1) {
                    keyBegin_ = at;
                    key_.clear();
                    keyLong_ = false;
                }
                inKey_ = true;
                state_ = State::string;
                break;
            case State::colon:
                if (c != ':')
                    fail();
                else
                    state_ = State::value;
                break;
            case State::afterValue: {
                if (depth_ == 0) {
                    fail();
                    break;
                }
                const std::size_t word = (depth_ - 1) / 64;
                const std::uint64_t bits = word == 0 ? firstKinds_ : kinds_[word - 1];
                const bool object = (bits >> ((depth_ - 1) % 64)) & 1;
                if (c == ',') {
                    state_ = object ? State::key : State::value;
                } else if (c == (object ? '}' : ']')) {
                    --depth_;
                    endValue(at + 1);
                } else {
                    fail();
                }
                break;
            }
            default:
                fail();
                break;
            }
            break;
        }
        }
    }
    if (state_ != State::error) {
        // What of an open top-level key or kept value lies in this piece.
        const bool inString = state_ == State::string || state_ == State::escape ||
                              state_ == State::unicode || state_ == State::utf8;
        if (inString && inKey_ && depth_ == 1 && rootObject_ && !keyLong_) {
            const std::size_t from = std::max(keyBegin_ + 1, offset_);
            const std::size_t to = offset_ + n;
            if (key_.size() + (to - from) <= keyLimit)
                key_.append(piece_.substr(from - offset_, to - from));
            else
                keyLong_ = true;
        }
        if (keepCopies_) keepCopy(offset_, offset_ + n);
    }
    offset_ += n;
    piece_ = {};
}

bool JsonScanner::finish() {
    if (state_ == State::zero || state_ == State::integer || state_ == State::fraction ||
        state_ == State::exponent)
        endValue(offset_);
    return state_ == State::afterValue && depth_ == 0 && started_;
}

} // namespace quorvane::bridge
