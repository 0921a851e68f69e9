#include "recording/MoviePipeline.h"

#include "platform/HostClock.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace quorvane::backends::recording {
namespace {

using Steady = std::chrono::steady_clock;

// How often an idle encoding thread looks whether a key frame is due, at
// most: it otherwise sleeps until the one it knows of.
constexpr double kStillCheckSeconds = 0.25;

Steady::time_point after(double seconds) {
    return Steady::now() + std::chrono::duration_cast<Steady::duration>(
                               std::chrono::duration<double>(std::max(0.0, seconds)));
}

// The pixels an overlay covers, put back after the frame was encoded.
class Underneath {
  public:
    Underneath(std::uint8_t* pixels, int stride, PixelArea area)
        : pixels_(pixels), stride_(stride), area_(area) {
        rows_.resize(static_cast<std::size_t>(area.width) * 4 *
                     static_cast<std::size_t>(area.height));
        for (int r = 0; r < area.height; ++r)
            std::memcpy(&rows_[static_cast<std::size_t>(r) * rowBytes()], at(r), rowBytes());
    }
    ~Underneath() {
        for (int r = 0; r < area_.height; ++r)
            std::memcpy(at(r), &rows_[static_cast<std::size_t>(r) * rowBytes()], rowBytes());
    }
    Underneath(const Underneath&) = delete;
    Underneath& operator=(const Underneath&) = delete;

  private:
    std::size_t rowBytes() const { return static_cast<std::size_t>(area_.width) * 4; }
    std::uint8_t* at(int r) const {
        return pixels_ + static_cast<std::ptrdiff_t>(area_.y + r) * stride_ +
               static_cast<std::ptrdiff_t>(area_.x) * 4;
    }
    std::uint8_t* pixels_;
    int stride_;
    PixelArea area_;
    std::vector<std::uint8_t> rows_;
};

PixelArea clip(PixelArea a, int width, int height) {
    const int x0 = std::clamp(a.x, 0, width);
    const int y0 = std::clamp(a.y, 0, height);
    const int x1 = std::clamp(a.x + std::max(a.width, 0), 0, width);
    const int y1 = std::clamp(a.y + std::max(a.height, 0), 0, height);
    return PixelArea{x0, y0, x1 - x0, y1 - y0};
}

} // namespace

platform::MovieSettings windowMovieSettings(const std::string& path, int width, int height,
                                            int fps) {
    fps = std::max(fps, 1);
    platform::MovieSettings settings;
    settings.path = path;
    settings.video.width = width;
    settings.video.height = height;
    // Pictures sit on the frame grid: the last grid point within the limit.
    settings.video.keyFrameSeconds = std::max(1.0, std::floor(kKeyFrameSeconds * fps + 1e-9)) / fps;
    settings.video.expectedFps = fps;
    // The encoder's quickest preset at every size: it keeps 1080p at 60
    // frames a second within two cores (measured in bench/record-window,
    // where ffmpeg's own grabber is held to the same preset and rate factor).
    settings.video.preset = "ultrafast";
    settings.video.zeroLatency = true;
    return settings;
}

MoviePipeline::MoviePipeline(std::unique_ptr<platform::MovieWriter> writer,
                             const PipelineSettings& settings, Pixels pixels, Failure onFailure)
    : writer_(std::move(writer)), settings_(settings), pixels_(std::move(pixels)),
      onFailure_(std::move(onFailure)), queue_(settings.depth, settings.slots) {
    thread_ = std::thread([this] { run(); });
}

MoviePipeline::~MoviePipeline() {
    {
        std::lock_guard guard(timeline_);
        closed_ = true;
    }
    queue_.close();
    if (thread_.joinable()) thread_.join();
}

std::int64_t MoviePipeline::nextIndex(double seconds) const {
    const auto k = static_cast<std::int64_t>(std::llround(seconds * settings_.fps));
    return std::max(lastIndex_ + 1, k);
}

double MoviePipeline::nextPictureTime() const {
    std::lock_guard guard(timeline_);
    if (!first_) return 0;
    // Half an interval early still rounds onto the next grid point.
    return *first_ + (static_cast<double>(lastIndex_) + 0.5) / settings_.fps;
}

bool MoviePipeline::push(int slot, int width, int height, int stride, double taken,
                         std::shared_ptr<const Overlay> overlay) {
    {
        std::lock_guard guard(timeline_);
        if (!closed_ && std::isfinite(taken)) {
            if (!first_) first_ = taken;
            const double seconds = taken - *first_;
            if (seconds * settings_.fps >= static_cast<double>(lastIndex_) + 0.5 - 1e-6) {
                lastIndex_ = nextIndex(seconds);
                QueuedFrame frame{slot,
                                  width,
                                  height,
                                  stride,
                                  static_cast<double>(lastIndex_) / settings_.fps,
                                  std::move(overlay)};
                queue_.push(frame);
                return true;
            }
        }
    }
    queue_.release(slot);
    return false;
}

std::optional<double> MoviePipeline::firstPicture() const {
    std::lock_guard guard(timeline_);
    return first_;
}

void MoviePipeline::fail(const std::string& description) {
    if (failed_.exchange(true)) return;
    onFailure_(description);
}

void MoviePipeline::write(const QueuedFrame& frame) {
    if (failed_) return;
    try {
        if (frame.refresh) {
            writer_->refresh(frame.time);
            return;
        }
        // A picture that comes after the grid point where a key frame fell
        // due (the source was slow, or this thread did not look in time):
        // the picture shown until now becomes that key frame, in its place.
        if (writer_->framesWritten() > 0) {
            const double due =
                std::ceil(writer_->keyFrameDueAt() * settings_.fps - 1e-6) / settings_.fps;
            if (frame.time > due + 1e-6) writer_->refresh(due);
        }
        std::uint8_t* pixels = pixels_(frame.slot);
        platform::VideoFrame picture;
        picture.format = platform::PixelFormat::BGRA;
        picture.width = frame.width;
        picture.height = frame.height;
        picture.data[0] = pixels;
        picture.stride[0] = frame.stride;
        if (frame.overlay) {
            const PixelArea area =
                clip(frame.overlay->area(frame.width, frame.height), frame.width, frame.height);
            Underneath kept(pixels, frame.stride, area);
            frame.overlay->draw(pixels, frame.width, frame.height, frame.stride);
            writer_->writeVideo(picture, frame.time);
        } else {
            writer_->writeVideo(picture, frame.time);
        }
    } catch (const platform::MovieError& e) {
        fail(e.what());
    }
}

Steady::time_point MoviePipeline::stillMoment() {
    if (failed_) return after(kStillCheckSeconds);
    // Read on this thread, the writer's only one; nothing waits unwritten.
    const double dueAt = writer_->keyFrameDueAt();
    std::lock_guard guard(timeline_);
    if (!first_ || closed_) return after(kStillCheckSeconds);
    const double now = platform::hostTimeNow() - *first_;
    const std::int64_t k = std::max(
        lastIndex_ + 1, static_cast<std::int64_t>(std::ceil(dueAt * settings_.fps - 1e-6)));
    const double at = static_cast<double>(k) / settings_.fps;
    if (at > now + 1e-4) return after(std::min(at - now, kStillCheckSeconds));
    lastIndex_ = k;
    QueuedFrame still;
    still.refresh = true;
    still.time = at;
    queue_.push(still);
    return after(kStillCheckSeconds);
}

Steady::time_point MoviePipeline::keyFrameDeadline() {
    const double dueAt = writer_->keyFrameDueAt();
    std::lock_guard guard(timeline_);
    if (!first_) return after(kStillCheckSeconds);
    const double now = platform::hostTimeNow() - *first_;
    // One interval after the grid point where the key frame is due: a
    // picture on its way there makes it itself.
    const double at = (std::ceil(dueAt * settings_.fps - 1e-6) + 1) / settings_.fps;
    return after(std::min(at - now, kStillCheckSeconds));
}

void MoviePipeline::run() {
    auto deadline = after(kStillCheckSeconds);
    for (;;) {
        QueuedFrame frame;
        const auto got = queue_.pop(deadline, frame);
        if (got == FrameQueue::Wait::closed) break;
        if (got == FrameQueue::Wait::timeout) {
            deadline = stillMoment();
            continue;
        }
        write(frame);
        if (!frame.refresh) queue_.release(frame.slot);
        // When no picture makes the next key frame, the queue's silence does.
        deadline = keyFrameDeadline();
    }
}

void MoviePipeline::finish(double stoppedAt) {
    std::lock_guard finishing(finishLock_);
    if (finished_) return;
    finished_ = true;
    std::optional<double> end;
    {
        std::lock_guard guard(timeline_);
        closed_ = true;
        // Not before the stop: what was seen until then lies within the movie.
        if (first_ && std::isfinite(stoppedAt))
            end = static_cast<double>(std::max(
                      lastIndex_ + 1, static_cast<std::int64_t>(std::ceil(
                                          (stoppedAt - *first_) * settings_.fps - 1e-6)))) /
                  settings_.fps;
        else if (first_)
            end = static_cast<double>(lastIndex_ + 1) / settings_.fps;
    }
    queue_.close();
    if (thread_.joinable()) thread_.join();
    if (failed_) return;
    if (!end || writer_->framesWritten() == 0) {
        // A movie without a picture is no recording.
        fail("The window sent no picture.");
        return;
    }
    try {
        writer_->finish(*end);
    } catch (const platform::MovieError& e) {
        fail(e.what());
    }
}

} // namespace quorvane::backends::recording
