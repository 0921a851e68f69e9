#include "jobs/record_window/ClickLog.h"

#include "io/AtomicFile.h"
#include "text/Numbers.h"
#include "json/Writer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iterator>

namespace quorvane::jobs::record_window {
namespace {

constexpr std::chrono::nanoseconds tickInterval{16'666'667};
constexpr std::int64_t ticksPerPointerSample = 6;
constexpr std::int64_t ticksPerInterimWrite = 60;

json::Decimal rounded(double value, int places) {
    return json::Decimal{text::roundHalfAwayFromZero(value, places)};
}

double clampFraction(double v) {
    if (std::isnan(v)) return 0;
    return std::clamp(v, 0.0, 1.0);
}

} // namespace

namespace clicklog {

Sample locate(double time, platform::Point pointer, double displayHeight,
              const platform::Rect& frame) {
    Sample s;
    s.time = time;
    s.x = frame.width > 0 ? (pointer.x - frame.x) / frame.width : 0;
    // The pointer's upward y becomes a downward distance from the top of the
    // main display, then a fraction of the window's height.
    s.y = frame.height > 0 ? (displayHeight - pointer.y - frame.y) / frame.height : 0;
    s.inside = s.x >= 0 && s.x <= 1 && s.y >= 0 && s.y <= 1;
    s.x = clampFraction(s.x);
    s.y = clampFraction(s.y);
    return s;
}

std::vector<Sample> thin(std::vector<Sample> samples) {
    const auto n = static_cast<std::int64_t>(samples.size());
    const auto limit = static_cast<std::int64_t>(maxPointerSamples);
    if (n <= limit) return samples;
    std::vector<Sample> kept;
    kept.reserve(maxPointerSamples);
    for (std::int64_t i = 0; i < limit; ++i)
        kept.push_back(samples[static_cast<std::size_t>(i * n / limit)]);
    return kept;
}

json::Object sideFile(const platform::Rect& frame, const std::vector<Sample>& clicks,
                      const std::vector<Sample>& pointer, double timeBase) {
    // Built key by key: initializer lists of variants trip GCC's
    // maybe-uninitialized warning.
    auto entry = [timeBase](const Sample& s) {
        json::Object o;
        o["t"] = rounded(s.time - timeBase, 3);
        o["x"] = rounded(s.x, 4);
        o["y"] = rounded(s.y, 4);
        return o;
    };
    json::Array clickArray;
    clickArray.reserve(clicks.size());
    for (const auto& c : clicks) {
        auto o = entry(c);
        o["inside"] = c.inside;
        clickArray.emplace_back(std::move(o));
    }
    json::Array pointerArray;
    pointerArray.reserve(pointer.size());
    for (const auto& p : pointer)
        pointerArray.emplace_back(entry(p));

    json::Object window;
    window["x"] = rounded(frame.x, 2);
    window["y"] = rounded(frame.y, 2);
    window["width"] = rounded(frame.width, 2);
    window["height"] = rounded(frame.height, 2);

    json::Object file;
    file["version"] = 1;
    file["window"] = std::move(window);
    file["clicks"] = std::move(clickArray);
    file["pointer"] = std::move(pointerArray);
    return file;
}

std::string sideFilePath(const std::string& videoFile) {
    auto path = std::filesystem::absolute(std::filesystem::path(videoFile));
    path.replace_extension("clicks.json");
    return path.string();
}

} // namespace clicklog

ClickLog::ClickLog(platform::Rect frame, std::shared_ptr<platform::PointerSource> pointer)
    : frame_(frame), pointer_(std::move(pointer)) {}

void ClickLog::start(runtime::Queue& queue) {
    std::weak_ptr<ClickLog> weak = weak_from_this();
    auto fire = [weak] {
        if (auto log = weak.lock()) log->tick();
    };
    std::lock_guard guard(lock_);
    timer_ = std::make_unique<runtime::Timer>(queue);
    // The first sample at once, then every interval after it.
    queue.async(fire);
    timer_->repeat(tickInterval, fire);
}

void ClickLog::writeWhileSampling(const std::string& videoFile) {
    try {
        interimPath_ = clicklog::sideFilePath(videoFile);
    } catch (const std::exception&) {
        // The current directory is gone: only the final write will tell.
        return;
    }
    writer_ = std::make_unique<runtime::SerialQueue>("quorvane.clicks.writer");
}

void ClickLog::tick() {
    const double t = pointer_->now();
    const platform::Point location = pointer_->mouseLocation();
    const double displayHeight = pointer_->mainDisplayHeight();
    const Sample sample = clicklog::locate(t, location, displayHeight, frame_);
    const bool down = (pointer_->pressedMouseButtons() & 1u) != 0;
    const int presses = pointer_->primaryPresses();

    bool writeSoon = false;
    {
        std::lock_guard guard(lock_);
        // Every press counts, even one that came and went between two ticks.
        int clicks = presses;
        if (clicks == 0 && down && !wasDown_) clicks = 1;
        for (int i = 0; i < clicks; ++i)
            clicks_.push_back(sample);
        wasDown_ = down;
        if (ticks_ % ticksPerPointerSample == 0) pointerSamples_.push_back(sample);
        ++ticks_;
        // One write at a time waits: a slow disk makes them rarer, not queued up.
        writeSoon = writer_ && !written_ && !interimQueued_ && ticks_ % ticksPerInterimWrite == 0;
        if (writeSoon) interimQueued_ = true;
    }
    if (writeSoon) {
        std::weak_ptr<ClickLog> weak = weak_from_this();
        writer_->async([weak] {
            if (auto log = weak.lock()) log->writeInterim();
        });
    }
}

void ClickLog::writeInterim() {
    std::lock_guard writing(writeLock_);
    Snapshot samples;
    {
        std::lock_guard guard(lock_);
        interimQueued_ = false;
        if (written_) return; // finished or discarded meanwhile
        samples = snapshot();
    }
    const auto text = sideFileText(frame_, std::move(samples));
    // The process ending is what this guards against, not a power cut: no
    // flush to the disk.
    if (text && io::writeAtomically(*interimPath_, *text, false)) interimWritten_ = true;
}

void ClickLog::noteFirstFrame(double time) {
    std::lock_guard guard(lock_);
    if (!firstFrame_) firstFrame_ = time;
}

void ClickLog::noteEnd(double time) {
    std::lock_guard guard(lock_);
    if (!end_ || time < *end_) end_ = time;
}

ClickLog::Snapshot ClickLog::snapshot() {
    return Snapshot{clicks_, pointerSamples_, firstFrame_, end_};
}

std::optional<std::string> ClickLog::sideFileText(const platform::Rect& frame, Snapshot samples) {
    double timeBase = 0;
    if (samples.firstFrame)
        timeBase = *samples.firstFrame;
    else if (!samples.clicks.empty())
        timeBase = samples.clicks.front().time;
    else if (!samples.pointer.empty())
        timeBase = samples.pointer.front().time;

    // Only what lies within the movie: from the time base to its end.
    auto within = [&](const Sample& s) {
        return s.time >= timeBase && (!samples.end || s.time <= *samples.end);
    };
    std::vector<Sample> clicks;
    std::copy_if(samples.clicks.begin(), samples.clicks.end(), std::back_inserter(clicks), within);
    std::vector<Sample> pointer;
    std::copy_if(samples.pointer.begin(), samples.pointer.end(), std::back_inserter(pointer),
                 within);
    pointer = clicklog::thin(std::move(pointer));
    return json::trySerialize(clicklog::sideFile(frame, clicks, pointer, timeBase));
}

std::optional<std::string> ClickLog::finish(const std::string& videoFile) {
    Snapshot samples;
    {
        std::lock_guard guard(lock_);
        timer_.reset();
        if (written_) return std::nullopt;
        written_ = true; // a write while sampling that has not begun yet does nothing
        samples = snapshot();
    }
    // One already under way ends before the final write begins.
    std::lock_guard writing(writeLock_);
    auto text = sideFileText(frame_, std::move(samples));
    if (!text) return std::nullopt;
    std::string path;
    try {
        path = clicklog::sideFilePath(videoFile);
    } catch (const std::exception&) {
        return std::nullopt; // the current directory is gone
    }
    if (!io::writeAtomically(path, *text)) return std::nullopt;
    return path;
}

void ClickLog::waitForWrites() {
    if (writer_) writer_->sync([] {});
}

void ClickLog::discard() {
    std::lock_guard writing(writeLock_);
    std::lock_guard guard(lock_);
    timer_.reset();
    written_ = true;
    if (interimWritten_) ::unlink(interimPath_->c_str());
    interimWritten_ = false;
}

} // namespace quorvane::jobs::record_window
