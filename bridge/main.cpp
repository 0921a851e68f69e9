// quorvane: relays an MCP client's JSON-RPC lines on standard input and
// output to the Quorvane application's Unix-domain socket, across restarts of
// the application. Started as `quorvane mcp`.
#include "Bridge.h"
#include "Fail.h"
#include "Settings.h"
#include "Texts.h"
#include "io/StandardDescriptors.h"

#include <csignal>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    using namespace quorvane::bridge;
    // No socket may ever take standard output: the host's replies would
    // otherwise be written back into the socket.
    quorvane::io::openMissingStandardDescriptors();
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
