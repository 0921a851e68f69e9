// Linux: the socket lives in the user's data directory. Only HOME (or the
// password database) is consulted: MCP clients often start their servers with
// a minimal environment, without XDG_RUNTIME_DIR or DISPLAY.
#include "AppPlatform.h"

#include <pwd.h>
#include <unistd.h>

namespace quorvane::bridge {
namespace {

std::string homeDirectory(const Environment& environment) {
    if (auto home = environment.find("HOME"); home != environment.end() && !home->second.empty())
        return home->second;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return {};
}

} // namespace

std::string defaultSocketPath(const Environment& environment) {
    return homeDirectory(environment) + "/.local/share/Quorvane/mcp.sock";
}

} // namespace quorvane::bridge
