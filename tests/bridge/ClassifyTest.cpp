#include "Classify.h"
#include "Handshake.h"
#include "Messages.h"
#include "Texts.h"

#include <gtest/gtest.h>
#include <string>

using namespace quorvane::bridge;

namespace {

struct Case {
    const char* line;
    bool object;
    const char* method; // nullptr: none
    bool methodMember;
    const char* idText; // nullptr: no id
    const char* idJson;
};

TEST(Classify, MethodAndIdOfEachKindOfLine) {
    const Case cases[] = {
        {R"({"jsonrpc":"2.0","id":7,"method":"tools/list"})", true, "tools/list", true, "7", "7"},
        {R"({"id":"7","method":"tools/list"})", true, "tools/list", true, "7", R"("7")"},
        {R"({"method":"notifications/initialized"})", true, "notifications/initialized", true,
         nullptr, ""},
        {R"({"id":3,"result":{}})", true, nullptr, false, "3", "3"},
        {R"({"id":null,"method":"m"})", true, "m", true, "null", "null"},
        {R"({"id":2.5,"method":"m"})", true, "m", true, "2.5", "2.5"},
        {R"({"id":-4,"method":"m"})", true, "m", true, "-4", "-4"},
        {R"({"id":18446744073709551615,"method":"m"})", true, "m", true, "18446744073709551615",
         "18446744073709551615"},
        {R"({"id":"a\"\u00e9","method":"m"})", true, "m", true, "a\"\xc3\xa9", R"("a\"é")"},
        {R"({"id":{"k":[1, 2]},"method":"m"})", true, "m", true, R"({"k":[1,2]})",
         R"({"k":[1,2]})"},
        {R"({"id":1,"method":5})", true, nullptr, true, "1", "1"},
        {R"({"id":1,"id":"x","method":"a","method":"b"})", true, "b", true, "x", R"("x")"},
        {R"({})", false, nullptr, false, nullptr, ""},
        {R"([{"id":1,"method":"m"}])", false, nullptr, false, nullptr, ""},
        {R"("text")", false, nullptr, false, nullptr, ""},
        {R"({"id":1,"method":"m"} trailing)", false, nullptr, false, nullptr, ""},
        {R"({"id":1,"method":"m")", false, nullptr, false, nullptr, ""},
        {"{\"id\":1,\"method\":\"\xff\"}", false, nullptr, false, nullptr, ""},
        {"not json", false, nullptr, false, nullptr, ""},
    };
    Classifier classifier;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto result = classifier.classify(c.line);
        EXPECT_EQ(result.object, c.object);
        EXPECT_EQ(result.method.has_value(), c.method != nullptr);
        if (c.method && result.method) {
            EXPECT_EQ(*result.method, c.method);
        }
        EXPECT_EQ(result.hasMethodMember, c.methodMember);
        EXPECT_EQ(result.hasId, c.idText != nullptr);
        if (c.idText) {
            EXPECT_EQ(result.idText, c.idText);
            EXPECT_EQ(result.idJson, c.idJson);
        }
    }
}

TEST(Classify, OwnPrefixOnlyOnStringIds) {
    Classifier classifier;
    EXPECT_TRUE(
        classifier.classify(R"({"id":"quorvane-bridge-2","result":{}})").idHasPrefix(ownIdPrefix));
    EXPECT_FALSE(
        classifier.classify(R"({"id":"quorvane-bridg","result":{}})").idHasPrefix(ownIdPrefix));
    EXPECT_FALSE(classifier.classify(R"({"id":["quorvane-bridge-2"],"result":{}})")
                     .idHasPrefix(ownIdPrefix));
}

TEST(Classify, ParsesInPlaceWhenPaddingIsThere) {
    std::string padded = R"({"id":1,"method":"m"})";
    const std::size_t size = padded.size();
    padded.append(64, '}'); // garbage after the line must not matter
    Classifier classifier;
    const auto result = classifier.classify(std::string_view(padded.data(), size), padded.size());
    EXPECT_TRUE(result.isRequest());
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
