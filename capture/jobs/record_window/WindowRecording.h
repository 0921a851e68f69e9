#pragma once
// One recording of one window into one movie file: sets up the window's
// stream with its recording output, runs the click log, and answers the
// stream's callbacks (frame status, stopped by itself, recording failed).
#include "jobs/record_window/ClickLog.h"
#include "platform/WindowStream.h"
#include "runtime/Queue.h"
#include "json/Value.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace quorvane::jobs::record_window {

struct PixelSize {
    int width = 0;
    int height = 0;
};

// Pixels for `points` at `scale`: the nearest even number (halves away from
// zero), at least 2.
int pixelDimension(double points, double scale);

class WindowRecording final : public platform::StreamOutput,
                              public platform::StreamDelegate,
                              public platform::RecordingOutputDelegate {
  public:
    // `service` and `clickQueue` (where the click log ticks) outlive the recording.
    WindowRecording(std::string file, platform::WindowCaptureService& service,
                    runtime::Queue& clickQueue);
    ~WindowRecording() override;

    // Starts recording `window` at `fps` frames a second, drawing the pointer
    // when `cursor`. Returns the video's size in pixels. Throws the service's
    // errors (platform::ScreenCaptureError).
    PixelSize start(const platform::Window& window, int fps, bool cursor);

    // The running stream; empty until the capture has started.
    std::shared_ptr<platform::WindowStream> stream() const;

    // True for the first caller only, which then stops the capture and
    // calls finishStopped; later stop triggers do nothing. The movie ends
    // after this moment: pointer samples taken later are not kept.
    bool beginStop();

    // The stopped event as the final line, exit status 0.
    [[noreturn]] void finishStopped();

    // The stopped event; finishes the click log, which writes its side file
    // the first time.
    json::Object stoppedEvent();

    const std::string& file() const { return file_; }

    void streamDidOutputFrame(const platform::FrameInfo& frame) override;
    // Print the stopped event (with `reason`) or the failure, and end the process.
    void streamDidStop(const std::string& description) override;
    void recordingOutputDidFail(const std::string& description) override;

  private:
    std::shared_ptr<ClickLog> clickLog() const;

    std::atomic<bool> stopping_{false};
    // Taken by whoever builds the final line (it finishes the click log) and
    // never released: the process ends right after.
    std::mutex endingLock_;

    const std::string file_;
    platform::WindowCaptureService& service_;
    runtime::Queue& clickQueue_;
    // Declared before the stream so that it outlives it: the stream posts
    // frames onto it until it is destroyed.
    std::unique_ptr<runtime::SerialQueue> frames_;
    mutable std::mutex fieldsLock_; // guards stream_ and clickLog_
    std::shared_ptr<platform::WindowStream> stream_;
    std::shared_ptr<ClickLog> clickLog_;
};

} // namespace quorvane::jobs::record_window
