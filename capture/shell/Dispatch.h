#pragma once
#include <string>
#include <vector>

namespace quorvane::shell {

// Takes the command word (default "hardware") and hands the rest to its job,
// or answers hardware, version and unknown words itself. Never returns.
[[noreturn]] void dispatch(const std::vector<std::string>& argv);

} // namespace quorvane::shell
