// libFuzzer target for the bridge's framing and classification. The first
// byte picks how the rest is cut into reads; every line is classified, and
// the bridge's own messages built from it must be valid JSON.
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

bool validJson(const std::string& text) {
    simdjson::dom::parser parser;
    simdjson::padded_string padded(text);
    return !parser.parse(padded).error();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    LineBuffer buffer;
    Classifier classifier;
    std::string seen;
    auto drain = [&] {
        while (auto line = buffer.next()) {
            require(!line->text.empty());
            require(line->text.find('\n') == std::string_view::npos);
            require(line->withFeed.size() == line->text.size() + 1 &&
                    line->withFeed.back() == '\n');
            seen += line->withFeed;

            const Classification c = classifier.classify(line->text, line->readable);
            require(c.object || (!c.hasId && !c.method));
            if (c.hasId) {
                auto reply = errorReply(c.idJson, closedBeforeAnswer);
                require(reply && validJson(*reply));
            }
            if (c.method == "initialize") {
                auto members = handshakeMembers(line->text);
                require(members.has_value());
                const std::string replay = replayedInitialize(*members, 2);
                require(validJson(replay));
                const Classification again = classifier.classify(replay);
                require(again.idText == "quorvane-bridge-2" && again.method == "initialize");
            }
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
