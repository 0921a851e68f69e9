#pragma once
// Newline framing of a byte stream. Bytes are read 64 KiB at a time into one
// buffer; complete lines are handed out as views into it and consumed by
// moving an offset, so a line is never copied and a long line is searched for
// its line feed only once.
//
// A line may be at most maxLineBytes long. A longer one is not kept: its
// bytes are handed out in parts as they arrive and then let go, so that the
// buffer never holds much more than one line of the largest size.
#include <cstddef>
#include <optional>
#include <string_view>

namespace quorvane::bridge {

inline constexpr std::size_t maxLineBytes = std::size_t{64} << 20;

struct Line {
    std::string_view text;     // without the line feed
    std::string_view withFeed; // the same bytes followed by their line feed
    // Set on each part of a line longer than the limit; such a part is never
    // relayed. `last` marks the part that the line's line feed ends.
    bool tooLong = false;
    bool last = true;
};

class LineBuffer {
  public:
    static constexpr std::size_t readSize = 65536;

    // `maxLine` is only ever lowered by tests.
    explicit LineBuffer(std::size_t maxLine = maxLineBytes) : maxLine_(maxLine) {}
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;
    ~LineBuffer();

    // One read of up to readSize bytes. False at the end of the stream or on
    // an error; a non-blocking descriptor with nothing to read is waited on,
    // and an interrupted read is tried again. Views handed out before are no
    // longer valid afterwards.
    bool readFrom(int fd);

    // Adds bytes as if they had been read. Same validity rule as readFrom.
    void append(std::string_view bytes);

    // The next complete line that is not empty, or the next part of a line
    // that is too long; nothing when no more can be handed out until more
    // bytes come. Empty lines are skipped.
    std::optional<Line> next();

    // Bytes after the last line feed, waiting for more input.
    std::size_t waiting() const { return end_ - begin_; }
    // The buffer's size, for tests of how much a long line costs.
    std::size_t capacity() const { return capacity_; }

  private:
    // Makes room for `count` more bytes after the data.
    void reserveTail(std::size_t count);
    std::string_view bytes(std::size_t from, std::size_t to) const {
        return std::string_view(data_ + from, to - from);
    }

    const std::size_t maxLine_;
    char* data_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;   // first byte not yet handed out
    std::size_t end_ = 0;     // end of the data
    std::size_t scanned_ = 0; // bytes before this hold no line feed after begin_
    bool discarding_ = false; // in a line that is too long
};

} // namespace quorvane::bridge
