#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::shell {

// The word after the first occurrence of `flag` in `args`, whatever it is;
// nothing when the flag is absent or is the last word.
std::optional<std::string> option(std::string_view flag, const std::vector<std::string>& args);

// Whether a switch such as "--mic" appears anywhere in `args`.
bool hasSwitch(std::string_view flag, const std::vector<std::string>& args);

} // namespace quorvane::shell
