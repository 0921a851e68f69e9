#pragma once
#include <string_view>

namespace quorvane::bridge {

// Writes `message` and a line feed to standard error in one write and ends
// the process with `code`.
[[noreturn]] void fail(std::string_view message, int code);

} // namespace quorvane::bridge
