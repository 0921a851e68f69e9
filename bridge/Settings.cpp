#include "Settings.h"

#include "platform/AppPlatform.h"

#include <cstring>
#include <unistd.h>

extern char** environ;

namespace quorvane::bridge {

Environment currentEnvironment() {
    Environment environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* text = *entry;
        const char* equals = std::strchr(text, '=');
        if (!equals) continue;
        environment.emplace(std::string(text, equals), std::string(equals + 1));
    }
    return environment;
}

Settings settingsFrom(const Environment& environment) {
    Settings settings;
    if (auto found = environment.find("QUORVANE_MCP_SOCKET"); found != environment.end()) {
        settings.customSocket = found->second;
        settings.socketPath = found->second;
    } else {
        settings.socketPath = defaultSocketPath(environment);
    }
    if (auto found = environment.find("PATH"); found != environment.end())
        settings.searchPath = found->second;
    else
        settings.searchPath = "/bin:/usr/bin"; // as the C library's own lookup
    return settings;
}

} // namespace quorvane::bridge
