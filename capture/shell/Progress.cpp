#include "shell/Progress.h"

#include "shell/Output.h"

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace quorvane::shell {
namespace {

using namespace std::chrono_literals;

constexpr auto drawInterval = 100ms;
// Before this, an estimate swings too much to be worth reading.
constexpr auto settleTime = 1s;
constexpr double settleShare = 0.01;

// Carriage return to the line's start; "erase to the end of the line".
constexpr std::string_view toLineStart = "\r";
constexpr std::string_view eraseRest = "\x1b[K";

std::string clockText(long long seconds) {
    char buf[32];
    if (seconds >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", seconds / 60, seconds % 60);
    return buf;
}

// Whether a progress line stands on standard error now. Read by the signal
// handler below, which may take no lock; there is one standard error, so one
// flag for the process.
std::atomic<bool> lineShown{false};

extern "C" void eraseLineAndEnd(int signal) {
    if (lineShown.exchange(false)) {
        const ssize_t written = ::write(STDERR_FILENO, "\r\x1b[K", 4);
        (void)written; // nothing more can be done here
    }
    // SA_RESETHAND has put the default action back: the signal, now pending,
    // ends the process as it would have without the line.
    ::raise(signal);
}

// A stop signal that would end the process ends it with the line erased, as
// a result does. A job that handles a signal itself keeps its handling.
void eraseOnStopSignals() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
                continue;
            struct sigaction action {};
            action.sa_handler = eraseLineAndEnd;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESETHAND;
            ::sigaction(signal, &action, nullptr);
        }
    });
}

bool terminalCanErase(int fd) {
    if (::isatty(fd) != 1) return false;
    const char* term = std::getenv("TERM");
    return !(term && std::strcmp(term, "dumb") == 0);
}

} // namespace

std::string progressText(double share, ProgressClock::duration elapsed) {
    if (!(share >= 0)) share = 0; // also not a number
    if (share > 1) share = 1;
    std::string text = std::to_string(static_cast<int>(std::floor(share * 100))) + "%";
    if (share >= settleShare && share < 1 && elapsed >= settleTime) {
        const double seconds = std::chrono::duration<double>(elapsed).count();
        const double left = std::ceil(seconds * (1 - share) / share);
        if (std::isfinite(left) && left < 1e7)
            text += " \u00b7 about " + clockText(static_cast<long long>(left)) + " left";
    }
    return text;
}

Progress Progress::onStandardError() {
    Write write;
    if (terminalCanErase(STDERR_FILENO)) {
        write = [](std::string_view bytes) { writeStandardError(bytes); };
        eraseOnStopSignals();
    }
    return Progress(std::move(write), ProgressClock::now(), &lineShown);
}

Progress::Progress(Write write, ProgressClock::time_point started)
    : write_(std::move(write)), started_(started) {}

Progress::Progress(Write write, ProgressClock::time_point started, std::atomic<bool>* shown)
    : write_(std::move(write)), shown_(shown), started_(started) {}

void Progress::update(double share, ProgressClock::time_point now) {
    if (!write_) return;
    std::lock_guard guard(lock_);
    if (cleared_ || (drawn_ && now - lastDraw_ < drawInterval)) return;
    std::string text = progressText(share, now - started_);
    if (drawn_ && text == lastText_) return;
    // Marked first: a signal in between erases a line not yet drawn, which
    // does no harm.
    if (shown_) *shown_ = true;
    write_(std::string(toLineStart) + text + std::string(eraseRest));
    drawn_ = true;
    lastDraw_ = now;
    lastText_ = std::move(text);
}

void Progress::clear() {
    if (!write_) return;
    std::lock_guard guard(lock_);
    if (drawn_ && !cleared_) write_(std::string(toLineStart) + std::string(eraseRest));
    if (shown_) *shown_ = false;
    cleared_ = true;
}

} // namespace quorvane::shell
