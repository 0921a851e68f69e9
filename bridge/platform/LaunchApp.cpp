// Linux: `gtk-launch quorvane` starts the installed desktop entry
// quorvane.desktop. The launcher gets /dev/null for standard input and output
// so that neither it nor the application it starts can read the client's
// messages or write into the client's stream; standard error is shared. It
// starts with every signal at its default and none blocked: the bridge's own
// ignored SIGPIPE must not reach the application.
#include "AppConnection.h"
#include "platform/AppPlatform.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
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

bool launchApp(int watchedInput) {
    SpawnSetup setup;
    if (!setup.ready) return true;
    ::posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&setup.attributes, &all);
    ::posix_spawnattr_setsigmask(&setup.attributes, &none);
    ::posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    char program[] = "gtk-launch";
    char application[] = "quorvane";
    char* arguments[] = {program, application, nullptr};
    pid_t child = -1;
    if (::posix_spawnp(&child, program, &setup.actions, &setup.attributes, arguments, environ) != 0)
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
