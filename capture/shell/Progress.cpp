#include "shell/Progress.h"

#include "shell/Output.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    if (terminalCanErase(STDERR_FILENO))
        write = [](std::string_view bytes) { writeStandardError(bytes); };
    return Progress(std::move(write), ProgressClock::now());
}

Progress::Progress(Write write, ProgressClock::time_point started)
    : write_(std::move(write)), started_(started) {}

void Progress::update(double share, ProgressClock::time_point now) {
    if (!write_) return;
    std::lock_guard guard(lock_);
    if (cleared_ || (drawn_ && now - lastDraw_ < drawInterval)) return;
    std::string text = progressText(share, now - started_);
    if (drawn_ && text == lastText_) return;
    write_(std::string(toLineStart) + text + std::string(eraseRest));
    drawn_ = true;
    lastDraw_ = now;
    lastText_ = std::move(text);
}

void Progress::clear() {
    if (!write_) return;
    std::lock_guard guard(lock_);
    if (drawn_ && !cleared_) write_(std::string(toLineStart) + std::string(eraseRest));
    cleared_ = true;
}

} // namespace quorvane::shell
