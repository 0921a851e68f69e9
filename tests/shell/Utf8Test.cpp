// The one UTF-8 decoder: replacement of invalid text, one U+FFFD per maximal
// subpart.
#include "text/Utf8.h"

#include <gtest/gtest.h>

namespace {

using quorvane::text::decodeAt;
using quorvane::text::isValidUtf8;
using quorvane::text::oneLine;
using quorvane::text::validUtf8;

const std::string R = "\xEF\xBF\xBD";

struct Case {
    const char* name;
    std::string in;
    std::string out;
};

TEST(Utf8, ReplacesEachMaximalInvalidSubpartOnce) {
    const Case cases[] = {
        {"ascii", "take 1.mov", "take 1.mov"},
        {"valid multibyte", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA5",
         "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA5"},
        {"latin-1 byte", "caf\xE9", "caf" + R},
        {"latin-1 byte before ascii", "\xE9t\xE9", R + "t" + R},
        // A name cut in the middle of a character by a fixed-size field.
        {"cut 3-byte", "Cam \xE2\x82", "Cam " + R},
        {"cut 4-byte", "\xF0\x9F\x8E", R},
        {"lone continuation bytes", "\x80\xBF", R + R},
        {"overlong slash", "\xC0\xAF", R + R},
        {"overlong 3-byte", "\xE0\x80\xAF", R + R + R},
        {"overlong 4-byte", "\xF0\x80\x80\xAF", R + R + R + R},
        {"surrogate", "\xED\xA0\x80", R + R + R},
        {"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
        {"F5 lead", "\xF5\x80", R + R},
        // The example of the Unicode standard's recommended practice.
        {"standard example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         "a" + R + R + R + "b" + R + "c" + R + R + "d"},
        {"highest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"nul kept", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(validUtf8(c.in), c.out);
        EXPECT_TRUE(isValidUtf8(validUtf8(c.in)));
        EXPECT_EQ(isValidUtf8(c.in), c.in == c.out);
    }
}

TEST(Utf8, DecodesCodePoints) {
    EXPECT_EQ(decodeAt("\xC3\xA9", 0).codePoint, U'\u00E9');
    EXPECT_EQ(decodeAt("\xE2\x82\xAC", 0).codePoint, U'\u20AC');
    EXPECT_EQ(decodeAt("\xF0\x9F\x8E\xA5", 0).codePoint, U'\U0001F3A5');
    const auto bad = decodeAt("\xE2\x82x", 0);
    EXPECT_FALSE(bad.valid);
    EXPECT_EQ(bad.length, 2u);
    EXPECT_EQ(bad.codePoint, U'\uFFFD');
}

TEST(Utf8, OneLineShowsControlCharactersVisibly) {
    const Case cases[] = {
        {"plain", "There is no file at a b.jpg.", "There is no file at a b.jpg."},
        {"line feed", "no\nsuch.jpg", "no\\nsuch.jpg"},
        {"return and tab", "a\rb\tc", "a\\rb\\tc"},
        {"escape and bell", "\x1b[2Jx\x07", "\\x1B[2Jx\\x07"},
        {"nul and del", std::string("a\0b\x7f", 4), "a\\x00b\\x7F"},
        {"C1 next line",
         "a\xC2\x85"
         "b",
         "a\\u0085b"},
        {"line separator",
         "a\xE2\x80\xA8"
         "b",
         "a\\u2028b"},
        {"kept", "caf\xC3\xA9 \xE2\x82\xAC \\n", "caf\xC3\xA9 \xE2\x82\xAC \\n"},
        {"invalid", "a\xFF\n", "a" + R + "\\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(oneLine(c.in), c.out);
    }
}

} // namespace
