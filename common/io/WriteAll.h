#pragma once
// The one write loop of both programs.
#include <cstddef>
#include <string_view>

namespace quorvane::io {

// Writes `bytes` to `fd`, going on after short writes and interrupted calls,
// and waiting (poll) while a non-blocking descriptor takes nothing more.
// Returns how many bytes were written: all of them, or those before a write
// failed (errno tells why) or wrote nothing.
std::size_t writeWhatCan(int fd, std::string_view bytes);

// True when every byte of `bytes` was written to `fd`.
inline bool writeAll(int fd, std::string_view bytes) {
    return writeWhatCan(fd, bytes) == bytes.size();
}

} // namespace quorvane::io
