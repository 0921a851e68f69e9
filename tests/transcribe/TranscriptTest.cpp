#include "jobs/transcribe/Transcript.h"
#include "jobs/transcribe/TranscribeError.h"
#include "jobs/transcribe/WordCollector.h"
#include "json/Writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quorvane::jobs::transcribe {
namespace {

TEST(TranscriptEncoding, WritesEveryMemberAtFullPrecision) {
    Transcript t;
    t.locale = "en-US";
    t.duration = 2.5;
    t.words = {{"hello", 0.123456789, 0.5}, {"a\"b\\c/d", 1, 1.25}, {"été", 1e-7, 3}};
    EXPECT_EQ(encodeTranscript(t), R"({"duration":2.5,"locale":"en-US","ok":true,"words":[)"
                                   R"({"end":0.5,"start":0.123456789,"text":"hello"},)"
                                   R"({"end":1.25,"start":1,"text":"a\"b\\c\/d"},)"
                                   R"({"end":3,"start":1e-07,"text":"été"}]})");
}

TEST(TranscriptEncoding, EmptyTranscriptIsStillOk) {
    Transcript t;
    t.locale = "en-US";
    t.duration = 3;
    EXPECT_EQ(encodeTranscript(t), R"({"duration":3,"locale":"en-US","ok":true,"words":[]})");
    t.duration = 0;
    EXPECT_EQ(encodeTranscript(t), R"({"duration":0,"locale":"en-US","ok":true,"words":[]})");
}

TEST(TranscriptEncoding, NonFiniteTimesAreRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (int field = 0; field < 3; ++field) {
        for (double bad : {nan, inf, -inf}) {
            Transcript t;
            t.locale = "en-US";
            t.duration = field == 0 ? bad : 1.0;
            t.words = {{"ok", 0, 0.5}, {"x", field == 1 ? bad : 0.5, field == 2 ? bad : 1.0}};
            EXPECT_THROW(encodeTranscript(t), json::EncodingError) << field << " " << bad;
        }
    }
}

TEST(TranscribeErrorText, IsExactlyTheMessage) {
    const auto e = TranscribeError::unsupported("This Mac has no speech model for fr-FR.");
    EXPECT_STREQ(e.what(), "This Mac has no speech model for fr-FR.");
    EXPECT_EQ(e.kind(), TranscribeError::Case::unsupported);
}

TEST(WordCollectorTest, KeepsTimedRunsWithTextTrimmed) {
    using platform::AudioTimeRange;
    WordCollector c;
    c.add({{{" hello\n", AudioTimeRange{0.1, 0.4}},
            {"untimed", std::nullopt},
            {" \t\r\n\u00a0\u3000", AudioTimeRange{0.4, 0.5}},
            {"big", AudioTimeRange{0.5, 0.7}},
            {"cat", AudioTimeRange{0.7, 0.9}}}});
    c.add({});
    c.add({{{"\u2003later\u2028", AudioTimeRange{2.0, 1.5}}}});
    const auto words = c.take();
    ASSERT_EQ(words.size(), 4u);
    EXPECT_EQ(words[0].text, "hello");
    EXPECT_EQ(words[1].text, "big");
    EXPECT_EQ(words[2].text, "cat");
    EXPECT_EQ(words[3].text, "later");
    // Times are the engine's, unchanged, even when they run backwards.
    EXPECT_EQ(words[3].start, 2.0);
    EXPECT_EQ(words[3].end, 1.5);
    EXPECT_EQ(words[0].start, 0.1);
    EXPECT_EQ(words[0].end, 0.4);
}

TEST(WordCollectorTest, TrimLeavesInnerSpaceAndBrokenBytes) {
    EXPECT_EQ(trimWhitespace("  new york "), "new york");
    EXPECT_EQ(trimWhitespace(""), "");
    EXPECT_EQ(trimWhitespace("\xff "), "\xff");
    // Overlong forms of a space (C0 A0, E0 80 A0) are broken bytes, not space.
    EXPECT_EQ(trimWhitespace("\xC0\xA0word\xE0\x80\xA0"), "\xC0\xA0word\xE0\x80\xA0");
    // A real no-break space (C2 A0) is trimmed.
    EXPECT_EQ(trimWhitespace("\xC2\xA0word\xC2\xA0"), "word");
}

} // namespace
} // namespace quorvane::jobs::transcribe
