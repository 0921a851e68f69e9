#pragma once
// The options of record-window, read once on the main thread.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::jobs::record_window {

struct Options {
    std::string out;                       // the movie path, as given
    std::optional<std::string> app;        // text to find in application names
    std::optional<std::uint32_t> windowId; // a window number that parsed
    int fps = 30;                          // 5 to 60
    double maxSeconds = 600;               // longest recording
    bool cursor = true;                    // draw the pointer into the movie
};

// Nothing when `--out` has no value (or an empty one); otherwise every option
// with its default where it is absent or does not parse.
std::optional<Options> readOptions(const std::vector<std::string>& args);

// The error message when the movie cannot be written at `out` (a pipe, a
// folder, a device, the job's own standard output), checked without
// blocking before anything starts; nothing when it may be tried.
std::optional<std::string> outFailure(const std::string& out);

// How long after the started event the duration timer fires: at once for zero
// or less; nothing (never) for infinity, not-a-number and anything beyond what
// the clock can count.
std::optional<std::chrono::nanoseconds> durationDeadline(double maxSeconds);

} // namespace quorvane::jobs::record_window
