#pragma once
// Whether the movie named by `--out` can be made, checked before anything
// is asked of the user.
#include <optional>
#include <string>

namespace quorvane::jobs::record_window {

// Why a movie cannot be written at `out` (its folder is missing or not
// writable); nothing when it looks writable. Does not
// touch the disk beyond looking.
std::optional<std::string> movieTargetProblem(const std::string& out);

} // namespace quorvane::jobs::record_window
