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
// The attempt never blocks (a listener whose queue is full fails it), and a
// socket whose listener is another user's fails it too.
std::optional<int> openSocket(const std::string& path);

// What came of trying to reach the host application.
struct Reached {
    std::optional<int> fd;   // the connected descriptor
    bool inputEnded = false; // `watchedInput` ended during the wait
};

// A connected descriptor: launches the host application (only without a
// custom socket) and polls 50 times, 0.3 s apart, when the first attempt
// fails. Nothing when no attempt connects. Throughout the wait,
// `watchedInput` is watched for its end (nothing is read from it); when it
// ends, the wait stops at once.
Reached connectToApp(const Settings& settings, int watchedInput);

// Waits about `milliseconds`, or less when `fd` ends (its writer hangs up)
// first: false then.
bool waitWatching(int fd, int milliseconds);

// Whole-buffer writes: the programs' one write loop.
using io::writeAll;
using io::writeWhatCan;

} // namespace quorvane::bridge
