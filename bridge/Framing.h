#pragma once
// Newline framing of a byte stream. Bytes are read 64 KiB at a time into one
// buffer; complete lines are handed out as views into it and consumed by
// moving an offset, so a line is never copied and a long line is searched for
// its line feed only once.
#include <cstddef>
#include <optional>
#include <string_view>

namespace quorvane::bridge {

struct Line {
    std::string_view text;     // without the line feed
    std::string_view withFeed; // the same bytes followed by their line feed
    // Readable bytes from text.data() on (at least text.size() + linePadding),
    // so a parser that reads a little past the end may use them in place.
    std::size_t readable;
};

class LineBuffer {
  public:
    static constexpr std::size_t readSize = 65536;
    // Bytes kept readable after the end of the buffered data.
    static constexpr std::size_t linePadding = 64;

    LineBuffer() = default;
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;
    ~LineBuffer();

    // One read of up to readSize bytes. False when the read returns 0 or
    // less (end of the stream or an error). Views handed out before are no
    // longer valid afterwards.
    bool readFrom(int fd);

    // Adds bytes as if they had been read. Same validity rule as readFrom.
    void append(std::string_view bytes);

    // The next complete line that is not empty, or nothing when no line feed
    // is left. Empty lines are skipped.
    std::optional<Line> next();

    // Bytes after the last line feed, waiting for more input.
    std::size_t waiting() const { return end_ - begin_; }

  private:
    // Makes room for `count` more bytes plus padding after the data.
    void reserveTail(std::size_t count);

    char* data_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;   // first byte not yet handed out
    std::size_t end_ = 0;     // end of the data
    std::size_t scanned_ = 0; // bytes before this hold no line feed after begin_
};

} // namespace quorvane::bridge
