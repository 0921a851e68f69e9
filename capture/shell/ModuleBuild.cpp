// Compiled into every job module: the build text the program compares with
// its own before it calls an entry.
#include "shell/BuildInfo.h"
#include "shell/JobModule.h"

const char* quorvane_module_build_id() {
    return quorvane::shell::buildId();
}
