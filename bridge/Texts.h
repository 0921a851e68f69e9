#pragma once
// The fixed texts of the bridge: its usage line, the prefix of the request
// ids it sends itself, and the messages of the error replies it writes.
#include <string_view>

namespace quorvane::bridge {

inline constexpr std::string_view usage = "Usage: quorvane mcp";
inline constexpr std::string_view ownIdPrefix = "quorvane-bridge-";
inline constexpr std::string_view notRunning =
    "Quorvane is not running and could not be started. Open Quorvane, then try again.";
inline constexpr std::string_view closedBeforeAnswer =
    "Quorvane was closed before it could answer. Try again: it will reopen.";
inline constexpr std::string_view tooLarge = "That message is too large for Quorvane to pass on.";
inline constexpr int notDeliveredCode = -32000;

} // namespace quorvane::bridge
