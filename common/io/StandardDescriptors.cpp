#include "io/StandardDescriptors.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quorvane::io {

void openMissingStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one.
        const int opened = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (opened < 0) continue;
        if (opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        } else {
            // Standard descriptors are inherited by the programs we start.
            ::fcntl(fd, F_SETFD, 0);
        }
    }
}

} // namespace quorvane::io
