// Linux: `gtk-launch quorvane` starts the installed desktop entry. The
// launcher gets /dev/null for standard input and output so that neither it
// nor the application it starts can read the client's messages or write into
// the client's stream; standard error is shared.
#include "platform/AppPlatform.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quorvane::bridge {

void launchApp() {
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) return;
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = "gtk-launch";
    char application[] = "quorvane";
    char* arguments[] = {program, application, nullptr};
    pid_t child = -1;
    int started = ::posix_spawnp(&child, program, &actions, nullptr, arguments, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace quorvane::bridge
