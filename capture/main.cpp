// quorvane-capture: one capture or media-analysis job per run.
#include "shell/Dispatch.h"

#include <csignal>

int main(int argc, char** argv) {
    // A host application that stops reading must not kill a recording before
    // its movie is finished; failed writes are handled where they happen.
    std::signal(SIGPIPE, SIG_IGN);
    quorvane::shell::dispatch(std::vector<std::string>(argv, argv + argc));
}
