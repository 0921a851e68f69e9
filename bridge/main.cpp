// quorvane: relays an MCP client's JSON-RPC lines on standard input and
// output to the Quorvane application's Unix-domain socket, across restarts of
// the application. Started as `quorvane mcp`.
#include "Bridge.h"
#include "Fail.h"
#include "Settings.h"
#include "Texts.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Descriptors 0 to 2 that are closed at start get /dev/null, so that no
// socket can ever take one of them: the host's replies would otherwise be
// written back into the socket that took standard output.
void openMissingStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace quorvane::bridge;
    openMissingStandardDescriptors();
    const std::vector<std::string> arguments(argv, argv + argc);
    if (arguments.size() < 2 || arguments[1] != "mcp") fail(usage, 2);

    const Environment environment = currentEnvironment();
    // A closed socket or standard output makes the write fail instead of
    // ending the process.
    std::signal(SIGPIPE, SIG_IGN);

    // Lives until the process ends: run() never returns.
    Bridge bridge(settingsFrom(environment), STDIN_FILENO, STDOUT_FILENO);
    bridge.run();
}
