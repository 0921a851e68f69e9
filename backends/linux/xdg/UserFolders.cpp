// The XDG base directories: $XDG_STATE_HOME when absolute, else
// ~/.local/state, the home from HOME or else the password database.
#include "platform/UserFolders.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace quorvane::platform {
namespace {

std::optional<std::string> homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home == '/') return std::string(home);
    if (const passwd* entry = ::getpwuid(::getuid());
        entry && entry->pw_dir && *entry->pw_dir == '/')
        return std::string(entry->pw_dir);
    return std::nullopt;
}

} // namespace

std::optional<std::string> userStateFolder() {
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return std::string(xdg);
    if (const auto home = homeFolder())
        return (std::filesystem::path(*home) / ".local" / "state").string();
    return std::nullopt;
}

} // namespace quorvane::platform
