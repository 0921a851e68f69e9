#include "io/WriteAll.h"

#include <cerrno>
#include <unistd.h>

namespace quorvane::io {

std::size_t writeWhatCan(int fd, std::string_view bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    return written;
}

} // namespace quorvane::io
