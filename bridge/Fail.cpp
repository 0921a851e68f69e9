#include "Fail.h"

#include <string>
#include <unistd.h>

namespace quorvane::bridge {

void fail(std::string_view message, int code) {
    std::string text(message);
    text += '\n';
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, text.data(), text.size());
    ::_exit(code);
}

} // namespace quorvane::bridge
