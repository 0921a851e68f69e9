#include "Framing.h"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

using quorvane::bridge::Line;
using quorvane::bridge::LineBuffer;
using quorvane::bridge::maxLineBytes;

namespace {

std::vector<std::string> drain(LineBuffer& buffer) {
    std::vector<std::string> lines;
    while (auto line = buffer.next()) {
        EXPECT_EQ(line->withFeed.size(), line->text.size() + 1);
        EXPECT_EQ(line->withFeed.back(), '\n');
        EXPECT_FALSE(line->tooLong);
        lines.emplace_back(line->text);
    }
    return lines;
}

// Feeds `input` in pieces of every size from 1 to 9 and checks that the same
// lines come out each time.
TEST(Framing, LinesDoNotDependOnHowTheInputIsCut) {
    const std::string input = "a\n\n\nbb\n{\"x\":1}\n\nccc";
    const std::vector<std::string> expected = {"a", "bb", "{\"x\":1}"};
    for (std::size_t piece = 1; piece < 10; ++piece) {
        LineBuffer buffer;
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < input.size(); at += piece) {
            buffer.append(std::string_view(input).substr(at, piece));
            for (auto& line : drain(buffer))
                lines.push_back(line);
        }
        EXPECT_EQ(lines, expected) << "pieces of " << piece;
        EXPECT_EQ(buffer.waiting(), 3u) << "the unterminated tail stays";
    }
}

TEST(Framing, ManySmallLinesAndALongOneSurviveCompactionAndGrowth) {
    LineBuffer buffer;
    std::vector<std::string> expected;
    std::vector<std::string> lines;
    const std::string longLine(3 * LineBuffer::readSize + 17, 'x');
    for (int round = 0; round < 2000; ++round) {
        std::string line = std::to_string(round);
        if (round % 500 == 499) line = longLine + line;
        expected.push_back(line);
        // Cut each line in two so that a partial line waits while the
        // buffer is compacted or grown.
        buffer.append(line.substr(0, line.size() / 2));
        for (auto& l : drain(buffer))
            lines.push_back(l);
        buffer.append(line.substr(line.size() / 2) + "\n");
        for (auto& l : drain(buffer))
            lines.push_back(l);
    }
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(buffer.waiting(), 0u);
}

// What comes out of a buffer: whole lines as themselves, a line over the
// limit as "!" followed by its parts joined.
std::vector<std::string> drainAll(LineBuffer& buffer, std::string& tooLong) {
    std::vector<std::string> out;
    while (auto line = buffer.next()) {
        if (!line->tooLong) {
            EXPECT_TRUE(tooLong.empty());
            out.emplace_back(line->text);
            continue;
        }
        tooLong += line->text;
        if (line->last) {
            EXPECT_EQ(line->withFeed.size(), line->text.size() + 1);
            out.push_back("!" + tooLong);
            tooLong.clear();
        } else {
            EXPECT_TRUE(line->withFeed.empty());
        }
    }
    return out;
}

TEST(Framing, LinesOverTheLimitComeOutAsPartsAndTheNextLineIsWhole) {
    const std::size_t limit = 100;
    const std::string atLimit(limit, 'a'), over(limit + 1, 'b'), far(10 * limit + 3, 'c');
    const std::string input = atLimit + "\n" + over + "\n\n" + far + "\nend\n" + far + "\n";
    const std::vector<std::string> expected = {atLimit, "!" + over, "!" + far, "end", "!" + far};
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, limit, limit + 1, input.size()}) {
        LineBuffer buffer(limit);
        std::vector<std::string> lines;
        std::string tooLong;
        for (std::size_t at = 0; at < input.size(); at += piece) {
            buffer.append(std::string_view(input).substr(at, piece));
            for (auto& l : drainAll(buffer, tooLong))
                lines.push_back(l);
            // Never much more than the limit is kept.
            EXPECT_LE(buffer.waiting(), limit + piece) << "pieces of " << piece;
        }
        EXPECT_EQ(lines, expected) << "pieces of " << piece;
    }
}

// The real limit with a real line: one byte over 64 MiB is let go as it
// comes, in reads of the usual size, and the line at the limit costs little
// more than itself.
TEST(Framing, SixtyFourMebibyteLimit) {
    LineBuffer buffer;
    const std::string chunk(LineBuffer::readSize, 'x');
    std::size_t parts = 0;
    std::string tooLong;
    auto feedLine = [&](std::size_t size) {
        for (std::size_t sent = 0; sent < size; sent += chunk.size()) {
            buffer.append(std::string_view(chunk).substr(0, std::min(chunk.size(), size - sent)));
            while (auto line = buffer.next()) {
                EXPECT_TRUE(line->tooLong);
                ++parts;
            }
        }
    };
    feedLine(maxLineBytes);
    EXPECT_EQ(parts, 0u);
    EXPECT_LE(buffer.capacity(), maxLineBytes + maxLineBytes / 8 + (1u << 20));
    buffer.append("\n");
    auto line = buffer.next();
    ASSERT_TRUE(line);
    EXPECT_FALSE(line->tooLong);
    EXPECT_EQ(line->text.size(), maxLineBytes);

    feedLine(maxLineBytes + 1);
    EXPECT_GE(parts, 1u);
    EXPECT_LE(buffer.waiting(), maxLineBytes);
    buffer.append("\n{}\n");
    line = buffer.next();
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->tooLong && line->last);
    line = buffer.next();
    ASSERT_TRUE(line);
    EXPECT_FALSE(line->tooLong);
    EXPECT_EQ(line->text, "{}");
}

TEST(Framing, ReadsFromADescriptorUntilItsEnd) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string data = "one\ntwo\n\nthree";
    ASSERT_EQ(::write(fds[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
    ::close(fds[1]);
    LineBuffer buffer;
    std::vector<std::string> lines;
    while (buffer.readFrom(fds[0]))
        for (auto& l : drain(buffer))
            lines.push_back(l);
    ::close(fds[0]);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
}

} // namespace
