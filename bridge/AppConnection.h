#pragma once
// Reaching the host application: one connection attempt, the launch and
// polling around it, and whole-buffer writes.
#include "Settings.h"
#include "io/WriteAll.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace quorvane::bridge {

// Longest socket path that is ever tried, in bytes: the address's path field
// holds 104 bytes with its terminating zero on the platform the limit comes
// from, and the limit is kept everywhere.
inline constexpr std::size_t maxSocketPathBytes = 103;

// One attempt to connect to `path`; the connected descriptor, or nothing.
std::optional<int> openSocket(const std::string& path);

// A connected descriptor: launches the host application (only without a
// custom socket) and polls 50 times, 0.3 s apart, when the first attempt
// fails. Nothing when no attempt connects.
std::optional<int> connectToApp(const Settings& settings);

// Whole-buffer writes: the programs' one write loop.
using io::writeAll;
using io::writeWhatCan;

} // namespace quorvane::bridge
