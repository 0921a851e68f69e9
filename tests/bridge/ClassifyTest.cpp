#include "Classify.h"
#include "Handshake.h"
#include "Messages.h"
#include "Texts.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace quorvane::bridge;

namespace {

struct Case {
    std::string line;
    bool object;
    const char* method; // nullptr: none
    bool methodMember;
    std::string idKey; // empty with hasId false: no id
    std::string idJson;
    bool hasId = true;
};

Case notAnId(std::string line, bool object = false, const char* method = nullptr,
             bool methodMember = false) {
    return {std::move(line), object, method, methodMember, "", "", false};
}

std::string nested(std::size_t depth, std::string_view inside = "1") {
    return std::string(depth, '[') + std::string(inside) + std::string(depth, ']');
}

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {R"({"jsonrpc":"2.0","id":7,"method":"tools/list"})", true, "tools/list", true, "7", "7"},
        {R"({"id":"7","method":"tools/list"})", true, "tools/list", true, "7", R"("7")"},
        notAnId(R"({"method":"notifications/initialized"})", true, "notifications/initialized",
                true),
        {R"({"id":3,"result":{}})", true, nullptr, false, "3", "3"},
        // Ids of other types have keys of their own: null is not "null".
        {R"({"id":null,"method":"m"})", true, "m", true, "\xffnull", "null"},
        {R"({"id":"null","method":"m"})", true, "m", true, "null", R"("null")"},
        {R"({"id":true,"method":"m"})", true, "m", true, "\xfftrue", "true"},
        {R"({"id":2.5,"method":"m"})", true, "m", true, "2.5", "2.5"},
        {R"({"id":-4,"method":"m"})", true, "m", true, "-4", "-4"},
        {R"({"id":-0,"method":"m"})", true, "m", true, "0", "-0"},
        {R"({"id":7.0,"method":"m"})", true, "m", true, "7", "7.0"},
        {R"({"id":70E-1,"method":"m"})", true, "m", true, "7", "70E-1"},
        {R"({"id":1.50,"method":"m"})", true, "m", true, "1.5", "1.50"},
        {R"({"id":0.0001e-2,"method":"m"})", true, "m", true, "0.000001", "0.0001e-2"},
        {R"({"id":18446744073709551615,"method":"m"})", true, "m", true, "18446744073709551615",
         "18446744073709551615"},
        // Numbers beyond any machine type keep their exact value.
        {R"({"id":12345678901234567890123,"method":"m"})", true, "m", true,
         "12345678901234567890123", "12345678901234567890123"},
        {R"({"id":-1.2345678901234567890123e22,"method":"m"})", true, "m", true,
         "-12345678901234567890123", "-1.2345678901234567890123e22"},
        {R"({"id":1e400,"method":"m"})", true, "m", true, "1" + std::string(400, '0'), "1e400"},
        {R"({"id":1e-400,"method":"m"})", true, "m", true, "0." + std::string(399, '0') + "1",
         "1e-400"},
        {R"({"id":1e-2000,"method":"m"})", true, "m", true, "1e-2000", "1e-2000"},
        {R"({"id":-12.5e2000,"method":"m"})", true, "m", true, "-1.25e2001", "-12.5e2000"},
        {R"({"id":25e99999999999999999999,"method":"m"})", true, "m", true,
         "2.5e100000000000000000000", "25e99999999999999999999"},
        {R"({"id":1e-99999999999999999999,"method":"m"})", true, "m", true,
         "1e-99999999999999999999", "1e-99999999999999999999"},
        {R"({"id":"a\"\u00e9","method":"m"})", true, "m", true, "a\"\xc3\xa9", R"("a\"\u00e9")"},
        // A lone surrogate is grammatical; it keeps its own form, and a pair
        // becomes one character.
        {R"({"id":"\ud800","method":"m"})", true, "m", true, "\xed\xa0\x80", R"("\ud800")"},
        {R"({"id":"\ud83d\ude00x","method":"m"})", true, "m", true, "\xf0\x9f\x98\x80x",
         R"("\ud83d\ude00x")"},
        {R"({"id":"\udc00\ud800","method":"m"})", true, "m", true, "\xed\xb0\x80\xed\xa0\x80",
         R"("\udc00\ud800")"},
        {R"({"id":{"k":[1, 2]},"method":"m"})", true, "m", true,
         "\xff"
         R"({"k":[1,2]})",
         R"({"k":[1,2]})"},
        {R"({"id":"[1,2]","method":"m"})", true, "m", true, "[1,2]", R"("[1,2]")"},
        {R"({"id":1,"method":5})", true, nullptr, true, "1", "1"},
        {R"({"id":1,"id":"x","method":"a","method":"b"})", true, "b", true, "x", R"("x")"},
        {R"({"\u0069d":4,"m\u0065thod":"tools/call"})", true, "tools/call", true, "4", "4"},
        notAnId(R"({"params":{"id":1,"method":"inner"},"jsonrpc":"2.0"})", true),
        {" \t{ \"id\" : 5 ,\r\"method\" : \"m\" } ", true, "m", true, "5", "5"},
        {"{\"id\":\"\xc3\xa9\xf0\x9f\x98\x80\",\"method\":\"\x7f\"}", true, "\x7f", true,
         "\xc3\xa9\xf0\x9f\x98\x80", "\"\xc3\xa9\xf0\x9f\x98\x80\""},
        // Depth has no limit, whether the deep part is the id or elsewhere.
        {R"({"id":9,"method":"m","params":)" + nested(100000) + "}", true, "m", true, "9", "9"},
        {R"({"method":"m","id":)" + nested(2000) + "}", true, "m", true, "\xff" + nested(2000),
         nested(2000)},
        notAnId(R"({})"),
        notAnId(R"([{"id":1,"method":"m"}])"),
        notAnId(R"("text")"),
        notAnId(R"(1e400)"),
        // Not JSON: every kind of break of the grammar.
        notAnId(R"({"id":1,"method":"m"} trailing)"),
        notAnId(R"({"id":1,"method":"m"} {})"),
        notAnId(R"({"id":1,"method":"m")"),
        notAnId("{\"id\":1,\"method\":\"\xff\"}"),
        notAnId("{\"id\":1,\"method\":\"\xed\xa0\x80\"}"),
        notAnId("{\"id\":1,\"method\":\"\xc0\xaf\"}"),
        notAnId("{\"id\":1,\"method\":\"\xe2\x82\"}"),
        notAnId("{\"id\":1,\"method\":\"a\tb\"}"),
        notAnId(R"({"id":01,"method":"m"})"),
        notAnId(R"({"id":1.,"method":"m"})"),
        notAnId(R"({"id":.5,"method":"m"})"),
        notAnId(R"({"id":1e,"method":"m"})"),
        notAnId(R"({"id":-,"method":"m"})"),
        notAnId(R"({"id":+1,"method":"m"})"),
        notAnId(R"({"id":"\x","method":"m"})"),
        notAnId(R"({"id":"\u12g4","method":"m"})"),
        notAnId(R"({"id":tru,"method":"m"})"),
        notAnId(R"({"id":1,,"method":"m"})"),
        notAnId(R"({"id":1,"method":"m",})"),
        notAnId(R"({"id" 1})"),
        notAnId(R"({1:2})"),
        notAnId(R"({"id":[1,2})"),
        notAnId(R"({"id":[1,2}])"),
        notAnId(R"({"id":9,"method":"m","params":)" + std::string(5000, '[') +
                std::string(4999, ']') + "}"),
        notAnId("not json"),
        notAnId(""),
    };
    return all;
}

void expectCase(const Classification& result, const Case& c) {
    EXPECT_EQ(result.object, c.object);
    EXPECT_EQ(result.method.has_value(), c.method != nullptr);
    if (c.method && result.method) {
        EXPECT_EQ(*result.method, c.method);
    }
    EXPECT_EQ(result.hasMethodMember, c.methodMember);
    EXPECT_EQ(result.hasId, c.hasId);
    if (c.hasId) {
        EXPECT_EQ(result.idKey, c.idKey);
        EXPECT_EQ(result.idJson(), c.idJson);
    }
}

TEST(Classify, MethodAndIdOfEachKindOfLine) {
    for (const auto& c : cases()) {
        SCOPED_TRACE(c.line.substr(0, 200));
        expectCase(classify(c.line), c);
    }
}

bool grammatical(std::string_view text) {
    JsonScanner scanner;
    scanner.feed(text);
    return scanner.finish();
}

// A line fed in pieces (as one too long to keep passes by) reads exactly as
// the same line read whole, wherever it is cut.
TEST(Classify, PiecesReadAsTheWholeLine) {
    StreamClassifier stream;
    for (const auto& c : cases()) {
        const std::string_view line = c.line;
        if (line.size() > 300 || !grammatical(line)) continue;
        for (std::size_t piece = 1; piece <= line.size() + 1; ++piece) {
            SCOPED_TRACE(c.line + " in pieces of " + std::to_string(piece));
            for (std::size_t at = 0; at < line.size(); at += piece)
                stream.feed(line.substr(at, piece));
            expectCase(stream.finish(), c);
        }
    }
}

// A line too long to keep that breaks the grammar is judged by the members
// complete before the break: its start.
TEST(Classify, PiecesOfABrokenLineTellWhatTheirStartShows) {
    const std::vector<Case> broken = {
        {R"({"id":5,"method":"tools/call","params":"aaaa)", true, "tools/call", true, "5", "5"},
        {R"({"id":1,"method":"m"} trailing)", true, "m", true, "1", "1"},
        {"{\"id\":\"\\ud800\",\"result\":{\"d\":\"\xff\"}}", true, nullptr, false, "\xed\xa0\x80",
         R"("\ud800")"},
        notAnId(R"({"jsonrpc":"2.0","method":"m","params":{"id":3)", true, "m", true),
        {R"({"id":12)", true, nullptr, false, "12", "12"}, // the line's end ends the number
        notAnId(R"({"params":"aaaa)", true),
        notAnId(R"([{"id":1,"method":"m"})"),
    };
    StreamClassifier stream;
    for (const auto& c : broken) {
        SCOPED_TRACE(c.line);
        for (std::size_t at = 0; at < c.line.size(); at += 3)
            stream.feed(std::string_view(c.line).substr(at, 3));
        expectCase(stream.finish(), c);
        EXPECT_FALSE(classify(c.line).object); // read whole, it is not JSON
    }
}

TEST(Classify, PiecesKeepLongValuesUpToTheirLimit) {
    StreamClassifier stream;
    const std::string big(JsonScanner::copyLimit - 2, 'x');
    const std::string line = R"({"params":")" + std::string(3 << 20, 'p') + R"(","id":")" + big +
                             R"(","method":")" + big + "x\"}";
    for (std::size_t at = 0; at < line.size(); at += 65536)
        stream.feed(std::string_view(line).substr(at, 65536));
    const auto result = stream.finish();
    EXPECT_TRUE(result.object);
    EXPECT_EQ(result.idKey, big); // exactly at the limit: kept
    // One byte more: the method is known to be there, not what it says.
    EXPECT_EQ(result.method, std::string());
}

// A byte-order mark before the JSON is passed over, whole or in pieces cut
// anywhere, also inside the mark; anywhere else it breaks the grammar.
TEST(Classify, AByteOrderMarkAtTheStartIsPassedOver) {
    const std::string mark(byteOrderMark);
    const std::vector<Case> marked = {
        {mark + R"({"jsonrpc":"2.0","id":7,"method":"tools/list"})", true, "tools/list", true, "7",
         "7"},
        {mark + R"({"id":"a","result":{}})", true, nullptr, false, "a", R"("a")"},
        {mark + R"( {"id":null,"error":{}})", true, nullptr, false, "\xffnull", "null"},
        notAnId(mark + mark + R"({"id":1,"method":"m"})"),
        notAnId(mark.substr(0, 2) + R"({"id":1,"method":"m"})"),
        notAnId(R"({"id":1,"method":"m"})" + mark),
        notAnId(mark),
    };
    StreamClassifier stream;
    for (const auto& c : marked) {
        SCOPED_TRACE(c.line);
        expectCase(classify(c.line), c);
        if (!classify(c.line).object) continue;
        for (std::size_t piece = 1; piece <= c.line.size(); ++piece) {
            for (std::size_t at = 0; at < c.line.size(); at += piece)
                stream.feed(std::string_view(c.line).substr(at, piece));
            expectCase(stream.finish(), c);
        }
    }
    // A cut mark read in pieces is given back to the grammar, which refuses it.
    stream.feed("\xef");
    stream.feed("\xbb{\"id\":1,\"method\":\"m\"}");
    EXPECT_FALSE(stream.finish().object);
    // The saved handshake drops the mark with the id.
    EXPECT_EQ(handshakeMembers(mark + R"({"id":1,"method":"initialize"})"),
              R"("method":"initialize")");
}

TEST(Classify, CancelledRequestKeyIsItsRequestIdKeyedLikeAnId) {
    const std::string head = R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":)";
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {head + R"({"requestId":7,"reason":"x"}})", "7"},
        {head + R"({"reason":"x","requestId":"7"}})", "7"},
        {head + R"({"requestId":7.0}})", "7"},
        {head + R"({"requestId":null}})", "\xffnull"},
        {head + R"({"requestId":"null"}})", "null"},
        {head + R"({"request\u0049d":"\ud800"}})", "\xed\xa0\x80"},
        {std::string(byteOrderMark) + head + R"({"requestId":3}})", "3"},
        {head + R"({"requestId":1,"requestId":2}})", "2"},
        {head + R"({"x":{"requestId":1}}})", std::nullopt},
        {head + R"({}})", std::nullopt},
        {head + R"([{"requestId":1}]})", std::nullopt},
        {head + R"("requestId"})", std::nullopt},
        {R"({"method":"notifications/cancelled","id":4,"requestId":4})", std::nullopt},
        {head + R"({"requestId":1})", std::nullopt}, // cut short
    };
    for (const auto& [line, key] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(cancelledRequestKey(line), key);
    }
}

TEST(Classify, OwnPrefixOnlyOnStringIds) {
    EXPECT_TRUE(classify(R"({"id":"quorvane-bridge-2","result":{}})").idHasPrefix(ownIdPrefix));
    EXPECT_TRUE(
        classify(R"({"id":"quorvane\u002dbridge-2","result":{}})").idHasPrefix(ownIdPrefix));
    EXPECT_FALSE(classify(R"({"id":"quorvane-bridg","result":{}})").idHasPrefix(ownIdPrefix));
    EXPECT_FALSE(classify(R"({"id":["quorvane-bridge-2"],"result":{}})").idHasPrefix(ownIdPrefix));
}

TEST(Handshake, ReplayKeepsEveryOtherMemberAsWritten) {
    const std::string line = R"({ "jsonrpc" : "2.0", "\u0069d" : 0, "method": "initialize",)"
                             R"( "params": {"v": 1.50, "s": "a\/b \u00e9", "id": [1, {"}": 2}]}})";
    auto members = handshakeMembers(line);
    ASSERT_TRUE(members);
    EXPECT_EQ(replayedInitialize(*members, 2),
              R"({"jsonrpc":"2.0","method":"initialize",)"
              R"("params":{"v":1.50,"s":"a\/b \u00e9","id":[1,{"}":2}]},)"
              R"("id":"quorvane-bridge-2"})"
              "\n");
    EXPECT_EQ(replayedInitialize(*handshakeMembers(R"({"id":1,"id":2})"), 12),
              "{\"id\":\"quorvane-bridge-12\"}\n");
    // Whatever the line holds, its members come back as written.
    EXPECT_EQ(replayedInitialize(*handshakeMembers(R"({"id":1,"n":1e400,"s":"\ud800",)"
                                                   R"("d":[[[]]],"method":"initialize"})"),
                                 2),
              R"({"n":1e400,"s":"\ud800","d":[[[]]],"method":"initialize",)"
              R"("id":"quorvane-bridge-2"})"
              "\n");
    EXPECT_FALSE(handshakeMembers("[1]"));
    EXPECT_FALSE(handshakeMembers("{"));
}

TEST(Messages, ErrorReplyCarriesTheIdAsReceived) {
    EXPECT_EQ(*errorReply(R"("7")", notRunning),
              R"({"jsonrpc":"2.0","id":"7","error":{"code":-32000,"message":")" +
                  std::string(notRunning) + "\"}}\n");
    EXPECT_FALSE(errorReply("1", "\xff"));
}

} // namespace
