#pragma once
// A line on standard error that tells a person at a terminal how far a long
// job has got: "42% · about 1:05 left". Nothing is written when standard
// error is not a terminal, so hosts reading it see only what they expect.
// Safe to use from several threads.
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace quorvane::shell {

using ProgressClock = std::chrono::steady_clock;

// "NN%", then "· about M:SS left" (H:MM:SS beyond an hour) once the share
// and the time taken make an estimate worth showing. The share is floored,
// so 100% means done.
std::string progressText(double share, ProgressClock::duration elapsed);

class Progress {
  public:
    using Write = std::function<void(std::string_view bytes)>;

    // Draws on standard error when it is a terminal that can erase a line;
    // otherwise every call does nothing. The clock starts now. A stop signal
    // (SIGINT, SIGTERM, SIGHUP) that ends the process erases the line first.
    static Progress onStandardError();

    // Draws through `write` (nothing when empty); the clock starts at `started`.
    Progress(Write write, ProgressClock::time_point started);

    // Redraws the line for `share` (0…1) done, at most ten times a second.
    void update(double share, ProgressClock::time_point now = ProgressClock::now());

    // Erases the line, if one was drawn; later updates draw nothing. Call it
    // before the job prints its result or its error.
    void clear();

  private:
    Progress(Write write, ProgressClock::time_point started, std::atomic<bool>* shown);

    Write write_;
    std::atomic<bool>* shown_ = nullptr; // whether a line stands, for signals
    ProgressClock::time_point started_;
    std::mutex lock_;
    bool drawn_ = false;
    bool cleared_ = false;
    ProgressClock::time_point lastDraw_{};
    std::string lastText_;
};

} // namespace quorvane::shell
