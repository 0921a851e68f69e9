#pragma once
#include <functional>
#include <optional>
#include <string>

namespace quorvane::runtime {

// Starts a thread that blocks reading one line of standard input, then calls
// `done` on that thread with the line (no line feed), or with nothing when
// standard input ended or failed first.
void readOneStdinLine(std::function<void(std::optional<std::string>)> done);

} // namespace quorvane::runtime
