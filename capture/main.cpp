// quorvane-capture: one capture or media-analysis job per run.
#include "io/StandardDescriptors.h"
#include "runtime/SignalSource.h"
#include "shell/Dispatch.h"

#include <csignal>

int main(int argc, char** argv) {
    // A camera, movie or socket opened later must never become standard
    // output and receive the JSON lines.
    quorvane::io::openMissingStandardDescriptors();
    // A host application that stops reading must not kill a recording before
    // its movie is finished; failed writes are handled where they happen.
    std::signal(SIGPIPE, SIG_IGN);
    // Held until the job decides what they mean (a recording stops in order,
    // anything else ends at once): loading a job module takes a while.
    quorvane::runtime::blockStopSignals();
    quorvane::shell::dispatch(std::vector<std::string>(argv, argv + argc));
}
