#pragma once
// Where the bridge finds the host application, fixed at start-up.
#include <map>
#include <optional>
#include <string>

namespace quorvane::bridge {

using Environment = std::map<std::string, std::string, std::less<>>;

struct Settings {
    // Given from outside through QUORVANE_MCP_SOCKET: the host application
    // is then never launched.
    std::optional<std::string> customSocket;
    std::string socketPath;
    // Where the application's launcher is looked for: PATH as given (or the
    // system's default path without one); only its absolute entries count.
    std::string searchPath;
};

// The process environment as a map (the first of duplicate names wins, as
// getenv finds it).
Environment currentEnvironment();

Settings settingsFrom(const Environment& environment);

} // namespace quorvane::bridge
