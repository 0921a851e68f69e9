#pragma once
// Jobs live in modules of their own, loaded only by the run that needs them:
// the media and speech libraries they link take far longer to load than a
// `version` or `hardware` answer may take.
//
// Each module carries its own copy of the core (shell output, runtime,
// common): the output lock, the main queue and every other piece of core
// state exist once in the program and once in each module, and a job only
// ever uses its module's copy. Nothing but the entries and the build text
// is exported (jobs/JobModule.map), so the copies never bind to each other.
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::shell {

// A job's entry: takes the job's arguments, ends the process, never returns.
using JobEntry = void (*)(const std::vector<std::string>& rest);

// Loads the module "quorvane-capture-<module>.so" from beside the executable,
// checks that it comes from this build, and calls its exported `entry` with
// the job's arguments. Never returns; a module that cannot be found, loaded
// or trusted is an error object.
[[noreturn]] void runJobModule(std::string_view module, const char* entry,
                               const std::vector<std::string>& rest);

} // namespace quorvane::shell

extern "C" {
// Every job module exports its build text (shell/ModuleBuild.cpp) and the
// entries the dispatch table names, each a JobEntry called quorvane_run_<job>.
const char* quorvane_module_build_id();
}
