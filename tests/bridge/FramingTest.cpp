#include "Framing.h"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

using quorvane::bridge::LineBuffer;

namespace {

std::vector<std::string> drain(LineBuffer& buffer) {
    std::vector<std::string> lines;
    while (auto line = buffer.next()) {
        EXPECT_EQ(line->withFeed.size(), line->text.size() + 1);
        EXPECT_EQ(line->withFeed.back(), '\n');
        EXPECT_GE(line->readable, line->text.size() + LineBuffer::linePadding);
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
