#pragma once
// The single-window stream of the screen capture service: captures one
// window at a steady rate, tells its output the status and time of every
// frame, and writes the movie through its recording output.
#include "platform/Pointer.h"
#include "platform/ScreenCapture.h"
#include "runtime/Queue.h"

#include <memory>
#include <string>

namespace quorvane::platform {

// What a stream of one window captures: the window and its content's size.
struct ContentFilter {
    Window window;
    Rect contentRect;          // points; x and y are 0
    float pointPixelScale = 1; // pixels per point
};

struct StreamConfiguration {
    int width = 0;  // pixels
    int height = 0; // pixels
    // Minimum frame interval: frameIntervalValue / frameIntervalScale seconds.
    int frameIntervalValue = 1;
    int frameIntervalScale = 30;
    bool showsCursor = true;
    bool capturesAudio = false;
    int queueDepth = 6;
};

// The frame status of a delivered frame: complete when the window's content
// (or the drawn cursor) changed since the previous frame, idle otherwise.
enum class FrameStatus {
    complete = 0,
    idle = 1,
    blank = 2,
    suspended = 3,
    started = 4,
    stopped = 5
};

struct FrameInfo {
    FrameStatus status = FrameStatus::complete;
    double presentationTime = 0; // host clock, seconds; may be NaN when unknown
};

class StreamOutput {
  public:
    virtual ~StreamOutput() = default;
    // One captured frame, on the queue the output was added with.
    virtual void streamDidOutputFrame(const FrameInfo& frame) = 0;
};

class StreamDelegate {
  public:
    virtual ~StreamDelegate() = default;
    // The stream stopped by itself (window closed, display lost); it has
    // already finished its movie. Called on a thread of the stream's own.
    virtual void streamDidStop(const std::string& description) = 0;
};

struct RecordingOutputConfiguration {
    std::string outputPath; // QuickTime movie, H.264
};

class RecordingOutputDelegate {
  public:
    virtual ~RecordingOutputDelegate() = default;
    // Writing or encoding the movie failed. Called on a thread of the stream's own.
    virtual void recordingOutputDidFail(const std::string& description) = 0;
};

class WindowStream {
  public:
    virtual ~WindowStream() = default;
    // Each throws ScreenCaptureError with the service's description.
    virtual void addStreamOutput(StreamOutput& output, runtime::Queue& queue) = 0;
    virtual void addRecordingOutput(const RecordingOutputConfiguration& configuration,
                                    RecordingOutputDelegate& delegate) = 0;
    // Returns once frames are being captured.
    virtual void startCapture() = 0;
    // Returns once capture has stopped and the movie is finished. Safe to
    // call after the stream stopped by itself, and more than once.
    virtual void stopCapture() = 0;
};

class WindowCaptureService {
  public:
    virtual ~WindowCaptureService() = default;
    // Throws ScreenCaptureError (for example when the window has gone).
    virtual ContentFilter makeFilter(const Window& window) = 0;
    // The delegate must outlive the stream.
    virtual std::unique_ptr<WindowStream> makeStream(const ContentFilter& filter,
                                                     const StreamConfiguration& configuration,
                                                     StreamDelegate& delegate) = 0;
    virtual std::unique_ptr<PointerSource> makePointerSource() = 0;
};

// The window capture service of this system (X11 on Linux).
std::unique_ptr<WindowCaptureService> makeWindowCaptureService();

} // namespace quorvane::platform
