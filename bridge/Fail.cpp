#include "Fail.h"

#include "io/WriteAll.h"

#include <string>
#include <unistd.h>

namespace quorvane::bridge {

void fail(std::string_view message, int code) {
    std::string text(message);
    text += '\n';
    io::writeAll(STDERR_FILENO, text); // nothing more can be said if it fails
    ::_exit(code);
}

} // namespace quorvane::bridge
