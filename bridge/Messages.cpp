#include "Messages.h"

#include "Texts.h"
#include "json/Writer.h"

namespace quorvane::bridge {

std::optional<std::string> errorReply(std::string_view idJson, std::string_view message) {
    std::string reply = "{\"jsonrpc\":\"2.0\",\"id\":";
    reply += idJson;
    reply += ",\"error\":{\"code\":";
    reply += std::to_string(notDeliveredCode);
    reply += ",\"message\":";
    try {
        json::appendString(reply, message);
    } catch (const json::EncodingError&) {
        return std::nullopt;
    }
    reply += "}}\n";
    return reply;
}

} // namespace quorvane::bridge
