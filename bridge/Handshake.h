#pragma once
// The client's initialize request, kept so that it can be sent again to a
// restarted host application under an id of the bridge's own.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::bridge {

// The members of the initialize object other than "id", as compact JSON text
// joined by commas, each exactly as the client wrote it apart from white
// space. Nothing when `line` is not a JSON object.
std::optional<std::string> handshakeMembers(std::string_view line);

// The replayed initialize line, line feed included: the saved members and
// "id" = "quorvane-bridge-" followed by `connection`.
std::string replayedInitialize(const std::string& members, std::int64_t connection);

} // namespace quorvane::bridge
