#include "pictures/Decoders.h"

#include <fcntl.h>
#include <unistd.h>

namespace quorvane::backends::pictures {

QuietStandardError::QuietStandardError() {
    const io::UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (!null) return;
    saved_.reset(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0));
    if (saved_) ::dup2(null.get(), STDERR_FILENO);
}

QuietStandardError::~QuietStandardError() {
    if (saved_) ::dup2(saved_.get(), STDERR_FILENO);
}

} // namespace quorvane::backends::pictures
