#pragma once
// Jobs live in modules of their own, loaded only by the run that needs them:
// the media and speech libraries they link take far longer to load than a
// `version` or `hardware` answer may take.
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::shell {

// Loads the module "quorvane-capture-<module>.so" from beside the executable
// and hands it the command word and the job's arguments. Never returns; a
// module that cannot be loaded is an error object.
[[noreturn]] void runJobModule(std::string_view module, const std::string& command,
                               const std::vector<std::string>& rest);

} // namespace quorvane::shell

// Every job module exports this entry point.
extern "C" [[noreturn]] void quorvane_job_entry(const std::string& command,
                                                const std::vector<std::string>& rest);
