// Linux: `gtk-launch quorvane` starts the installed desktop entry
// quorvane.desktop. The launcher gets /dev/null for all three standard
// descriptors and no other descriptor of the bridge: it hands its own to the
// application it starts, which must neither read the client's messages nor
// keep the client's pipes open (the client would see no end of its
// standard error until the application quits). It starts with every signal
// at its default and none blocked: the bridge's own ignored SIGPIPE must not
// reach the application.
#include "AppConnection.h"
#include "platform/AppPlatform.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quorvane::bridge {
namespace {

constexpr int launcherWaitMs = 5000;
constexpr int launcherCheckMs = 50;

// Spawn attributes and file actions, released whatever happens.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    bool ready = false;

    SpawnSetup() {
        if (::posix_spawn_file_actions_init(&actions) != 0) return;
        if (::posix_spawnattr_init(&attributes) != 0) {
            ::posix_spawn_file_actions_destroy(&actions);
            return;
        }
        ready = true;
    }
    ~SpawnSetup() {
        if (!ready) return;
        ::posix_spawnattr_destroy(&attributes);
        ::posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// The launcher in the first absolute entry of `searchPath` that holds it as
// an executable file. Empty and relative entries would name the working
// folder, which is the client's (often a project the user opened).
std::string findLauncher(std::string_view searchPath, std::string_view name) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = searchPath.find(':', start);
        const std::string_view entry = searchPath.substr(
            start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
        if (entry.starts_with('/')) {
            std::string candidate(entry);
            if (!candidate.ends_with('/')) candidate += '/';
            candidate += name;
            struct stat info;
            if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string_view::npos) return {};
        start = colon + 1;
    }
}

bool reaped(pid_t child) {
    int status = 0;
    pid_t got;
    while ((got = ::waitpid(child, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    return got != 0;
}

// A launcher that outlives the wait is reaped whenever it ends.
void reapLater(pid_t child) {
    try {
        std::thread([child] {
            int status = 0;
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // Left to the system once the bridge ends.
    }
}

} // namespace

bool launchApp(const Settings& settings, int watchedInput) {
    char program[] = "gtk-launch";
    const std::string launcher = findLauncher(settings.searchPath, program);
    if (launcher.empty()) return true;
    SpawnSetup setup;
    if (!setup.ready) return true;
    ::posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Descriptors the bridge was handed without close-on-exec.
    ::posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&setup.attributes, &all);
    ::posix_spawnattr_setsigmask(&setup.attributes, &none);
    ::posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    char application[] = "quorvane";
    char* arguments[] = {program, application, nullptr};
    pid_t child = -1;
    if (::posix_spawn(&child, launcher.c_str(), &setup.actions, &setup.attributes, arguments,
                      environ) != 0)
        return true;
    for (int waited = 0; waited < launcherWaitMs; waited += launcherCheckMs) {
        if (reaped(child)) return true;
        if (!waitWatching(watchedInput, launcherCheckMs)) {
            reapLater(child);
            return false;
        }
    }
    if (!reaped(child)) reapLater(child);
    return true;
}

} // namespace quorvane::bridge
