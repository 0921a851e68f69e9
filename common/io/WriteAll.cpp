#include "io/WriteAll.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace quorvane::io {

std::size_t writeWhatCan(int fd, std::string_view bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A descriptor handed over non-blocking: wait until it takes
            // more, so that a line is never cut short.
            pollfd writable{fd, POLLOUT, 0};
            if (::poll(&writable, 1, -1) >= 0 || errno == EINTR) continue;
            break;
        }
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    return written;
}

} // namespace quorvane::io
