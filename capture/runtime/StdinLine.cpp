#include "runtime/StdinLine.h"

#include <cerrno>
#include <thread>
#include <unistd.h>

namespace quorvane::runtime {

void readOneStdinLine(std::function<void(std::optional<std::string>)> done) {
    std::thread([done = std::move(done)] {
        std::string line;
        char c;
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                done(std::nullopt);
                return;
            }
            if (c == '\n') {
                done(std::move(line));
                return;
            }
            line += c;
        }
    }).detach();
}

} // namespace quorvane::runtime
