#include "jobs/record_window/WindowRecording.h"

#include "shell/Output.h"
#include "text/Utf8.h"

#include <climits>
#include <cmath>

namespace quorvane::jobs::record_window {

int pixelDimension(double points, double scale) {
    const double half = points * scale * 0.5;
    if (!std::isfinite(half) || half < 1) return 2;
    const double rounded = 2 * std::round(half); // std::round: halves away from zero
    return rounded > INT_MAX - 1 ? INT_MAX - 1 : static_cast<int>(rounded);
}

WindowRecording::WindowRecording(std::string file, platform::WindowCaptureService& service,
                                 runtime::Queue& clickQueue)
    : file_(std::move(file)), service_(service), clickQueue_(clickQueue) {}

WindowRecording::~WindowRecording() {
    // The stream goes first: it may still post frames onto the frames queue.
    std::shared_ptr<platform::WindowStream> stream;
    {
        std::lock_guard guard(fieldsLock_);
        stream = std::move(stream_);
    }
    stream.reset();
}

PixelSize WindowRecording::start(const platform::Window& window, int fps, bool cursor) {
    const platform::ContentFilter filter = service_.makeFilter(window);
    const double scale = static_cast<double>(filter.pointPixelScale);
    const PixelSize size{pixelDimension(filter.contentRect.width, scale),
                         pixelDimension(filter.contentRect.height, scale)};

    platform::StreamConfiguration configuration;
    configuration.width = size.width;
    configuration.height = size.height;
    configuration.frameIntervalValue = 1;
    configuration.frameIntervalScale = fps;
    configuration.showsCursor = cursor;
    configuration.capturesAudio = false;
    configuration.queueDepth = 6;

    std::shared_ptr<platform::WindowStream> stream =
        service_.makeStream(filter, configuration, *this);
    frames_ = std::make_unique<runtime::SerialQueue>("quorvane.frames");
    stream->addStreamOutput(*this, *frames_);
    stream->addRecordingOutput(platform::RecordingOutputConfiguration{file_}, *this);

    // Sampling begins before the capture does.
    auto log = std::make_shared<ClickLog>(window.frame, service_.makePointerSource());
    log->writeWhileSampling(file_);
    {
        std::lock_guard guard(fieldsLock_);
        clickLog_ = log;
    }
    log->start(clickQueue_);

    stream->startCapture();
    std::lock_guard guard(fieldsLock_);
    stream_ = std::move(stream);
    return size;
}

std::shared_ptr<platform::WindowStream> WindowRecording::stream() const {
    std::lock_guard guard(fieldsLock_);
    return stream_;
}

std::shared_ptr<ClickLog> WindowRecording::clickLog() const {
    std::lock_guard guard(fieldsLock_);
    return clickLog_;
}

bool WindowRecording::beginStop() {
    if (stopping_.exchange(true)) return false;
    if (auto log = clickLog()) log->noteEnd(log->now());
    return true;
}

json::Object WindowRecording::stoppedEvent() {
    json::Object event;
    event["ok"] = true;
    event["event"] = "stopped";
    event["file"] = text::validUtf8(file_); // the name as given, in valid text
    if (auto log = clickLog()) {
        if (auto path = log->finish(file_)) event["clicks"] = text::validUtf8(*path);
    }
    return event;
}

void WindowRecording::streamDidOutputFrame(const platform::FrameInfo& frame) {
    auto log = clickLog();
    if (!log) return;
    // The movie ended there (a stream that stopped by itself, too).
    if (frame.status == platform::FrameStatus::stopped && std::isfinite(frame.presentationTime))
        log->noteEnd(frame.presentationTime);
    // Only a complete frame fixes the click log's time base.
    if (frame.status != platform::FrameStatus::complete) return;
    double t = frame.presentationTime;
    if (!std::isfinite(t)) t = log->now();
    log->noteFirstFrame(t);
}

void WindowRecording::finishStopped() {
    endingLock_.lock();
    shell::finish(stoppedEvent(), 0);
}

void WindowRecording::streamDidStop(const std::string& description) {
    // A stop sequence under way prints its own event.
    if (stopping_.load()) return;
    endingLock_.lock();
    // The frame statuses posted so far, the movie's end among them, are
    // taken in before the click log is finished.
    if (frames_ && !frames_->isCurrent()) frames_->sync([] {});
    auto event = stoppedEvent();
    event["reason"] = description;
    shell::finish(event, 0);
}

void WindowRecording::recordingOutputDidFail(const std::string& description) {
    endingLock_.lock();
    // A failed recording leaves no side file, not even the one kept while recording.
    if (auto log = clickLog()) log->discard();
    shell::failWith("The recording failed. " + description);
}

} // namespace quorvane::jobs::record_window
