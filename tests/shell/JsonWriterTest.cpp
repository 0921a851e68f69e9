#include "text/Numbers.h"
#include "json/Writer.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace quorvane;
using json::Decimal;

TEST(JsonWriter, SortsKeysAtEveryLevelWithoutSpaces) {
    json::Object inner{{"zeta", 1}, {"alpha", true}};
    json::Object o{{"ok", true}, {"b", json::Array{1, "x", nullptr}}, {"a", inner}};
    EXPECT_EQ(json::serialize(o), R"({"a":{"alpha":true,"zeta":1},"b":[1,"x",null],"ok":true})");
}

TEST(JsonWriter, EscapesSlashQuotesAndControlsButNotNonAscii) {
    const std::string s = "a/b \"q\" \\ \n\t\r\b\f \x01\x1f Zo\xC3\xAB \xE2\x82\xAC";
    EXPECT_EQ(json::serialize(s), R"("a\/b \"q\" \\ \n\t\r\b\f \u0001\u001f Zo)"
                                  "\xC3\xAB \xE2\x82\xAC\"");
}

TEST(JsonWriter, RefusesWhatCannotBeWritten) {
    const double bad[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
    for (double d : bad) {
        EXPECT_THROW(json::serialize(json::Object{{"t", json::Array{1, d}}}), json::EncodingError);
        EXPECT_FALSE(json::trySerialize(json::Object{{"t", Decimal{d}}}));
    }
    EXPECT_THROW(json::serialize(std::string("bad \xC3(")), json::EncodingError);
}

struct NumberCase {
    json::Value value;
    const char* text;
};

TEST(JsonWriter, NumbersReadBackExactly) {
    const NumberCase cases[] = {
        {0, "0"},
        {-42, "-42"},
        {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
        {3.0, "3"},
        {2.5, "2.5"},
        {0.123456789, "0.123456789"},
        {0.1 + 0.2, "0.30000000000000004"},
        {-0.0, "0"},
        {1e300, "1e+300"},
        {Decimal{0.1235}, "0.1235"},
        {Decimal{1.0}, "1"},
        {Decimal{0.00001}, "0.00001"},
        {Decimal{-1440.0}, "-1440"},
        {Decimal{0.999}, "0.999"},
        {Decimal{1e-7}, "0.0000001"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(json::serialize(c.value), c.text);
}

TEST(Numbers, RoundHalfAwayFromZero) {
    struct {
        double value;
        int places;
        const char* text;
    } cases[] = {
        {0.12345, 4, "0.1235"},  {0.99995, 4, "1"},       {1.2345, 3, "1.235"}, {2.0, 3, "2"},
        {0.123449, 4, "0.1234"}, {-0.5, 0, "-1"},         {-0.00001, 4, "0"},   {0.5, 4, "0.5"},
        {1279.996, 2, "1280"},   {-1440.004, 2, "-1440"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text::formatNumber(text::roundHalfAwayFromZero(c.value, c.places)), c.text)
            << c.value << " to " << c.places;
}

TEST(Numbers, ParseInt64) {
    EXPECT_EQ(text::parseInt64("720"), 720);
    EXPECT_EQ(text::parseInt64("+5"), 5);
    EXPECT_EQ(text::parseInt64("-3"), -3);
    EXPECT_EQ(text::parseInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(text::parseInt64("-9223372036854775808"), INT64_MIN);
    for (const char* bad : {"", "+", "-", " 1", "1 ", "1.0", "0x10", "abc", "9223372036854775808",
                            "-9223372036854775809", "99999999999999999999"})
        EXPECT_FALSE(text::parseInt64(bad)) << bad;
    EXPECT_EQ(text::parseUInt32("4294967295"), 4294967295u);
    EXPECT_FALSE(text::parseUInt32("4294967296"));
    EXPECT_FALSE(text::parseUInt32("-1"));
}

TEST(Numbers, ParseDoubleTakesStrtodSyntaxWholeText) {
    EXPECT_EQ(text::parseDouble("0.5"), 0.5);
    EXPECT_EQ(text::parseDouble("1e3"), 1000.0);
    EXPECT_EQ(text::parseDouble("0x10"), 16.0);
    EXPECT_EQ(text::parseDouble("-inf"), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(*text::parseDouble("nan")));
    for (const char* bad : {"", " 1", "1 ", "1,5", "abc", "1e"})
        EXPECT_FALSE(text::parseDouble(bad)) << bad;
}
