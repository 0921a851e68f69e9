// libFuzzer target for the bridge's framing and classification. The first
// byte picks how the rest is cut into reads (and a low line limit, so that
// lines over it occur); every line is classified whole and in pieces, the
// bridge's own messages built from it must be valid JSON, and whatever
// simdjson (an independent parser) accepts must be accepted too.
#include "Classify.h"
#include "Framing.h"
#include "Handshake.h"
#include "Messages.h"
#include "Texts.h"

#include <cstdint>
#include <cstdlib>
#include <simdjson.h>
#include <string>
#include <string_view>

using namespace quorvane::bridge;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

bool simdjsonAccepts(std::string_view text) {
    simdjson::dom::parser parser;
    simdjson::padded_string padded(text);
    return !parser.parse(padded).error();
}

bool grammatical(std::string_view text) {
    JsonScanner scanner;
    scanner.feed(text);
    return scanner.finish();
}

bool same(const Classification& a, const Classification& b) {
    return a.object == b.object && a.method == b.method && a.hasMethodMember == b.hasMethodMember &&
           a.hasId == b.hasId && a.idKey == b.idKey && a.idJson() == b.idJson();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::size_t limit = data[0] & 0x80 ? 48 : maxLineBytes;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    LineBuffer buffer(limit);
    StreamClassifier pieces;
    std::string seen, tooLong;
    auto check = [&](std::string_view text) {
        const Classification c = classify(text);
        require(c.object || (!c.hasId && !c.method));
        if (simdjsonAccepts(text)) require(grammatical(text));
        for (std::size_t at = 0; at < text.size(); at += piece)
            pieces.feed(text.substr(at, piece));
        // Broken lines read in pieces tell what their start shows instead.
        const Classification inPieces = pieces.finish();
        if (grammatical(text)) require(same(inPieces, c));
        if (c.hasId) {
            auto reply = errorReply(c.idJson(), closedBeforeAnswer);
            require(reply && grammatical(*reply));
            require(classify(std::string_view(*reply).substr(0, reply->size() - 1)).idKey ==
                    c.idKey);
        }
        // Only an object can name a cancelled request.
        if (cancelledRequestKey(text)) require(c.object);
        if (c.method == "initialize") {
            auto members = handshakeMembers(text);
            require(members.has_value());
            const std::string replay = replayedInitialize(*members, 2);
            const Classification again = classify(replay.substr(0, replay.size() - 1));
            require(again.idKey == "quorvane-bridge-2" && again.method == "initialize");
        }
    };
    auto drain = [&] {
        while (auto line = buffer.next()) {
            if (line->tooLong) {
                tooLong += line->text;
                if (line->last) {
                    require(tooLong.size() > limit);
                    seen += tooLong + "\n";
                    tooLong.clear();
                }
                continue;
            }
            require(!line->text.empty() && line->text.size() <= limit);
            require(line->text.find('\n') == std::string_view::npos);
            require(line->withFeed.size() == line->text.size() + 1 &&
                    line->withFeed.back() == '\n');
            seen += line->withFeed;
            check(line->text);
        }
    };
    for (std::size_t at = 0; at < input.size(); at += piece) {
        buffer.append(input.substr(at, piece));
        drain();
    }

    // Every non-empty line before the last line feed came out, in order.
    std::string expected;
    const std::size_t lastFeed = input.rfind('\n');
    if (lastFeed != std::string_view::npos) {
        std::size_t start = 0;
        while (start <= lastFeed) {
            const std::size_t feed = input.find('\n', start);
            if (feed > start) expected.append(input.substr(start, feed - start + 1));
            start = feed + 1;
        }
    }
    require(seen == expected);
    return 0;
}
