#pragma once
// Where the user's own files of a kind belong on this system.
#include <optional>
#include <string>

namespace quorvane::platform {

// The folder for state kept between runs (not configuration, not a cache);
// nothing when the user has no home.
std::optional<std::string> userStateFolder();

} // namespace quorvane::platform
