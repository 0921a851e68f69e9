#pragma once
// The lines the bridge writes to the client on its own account.
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::bridge {

inline constexpr std::string_view toolListNotice =
    "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/tools/list_changed\"}\n";

// A JSON-RPC error reply with code -32000, line feed included. `idJson` is
// the request's id as JSON text; nothing when `message` is not valid UTF-8.
std::optional<std::string> errorReply(std::string_view idJson, std::string_view message);

} // namespace quorvane::bridge
