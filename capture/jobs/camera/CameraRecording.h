#pragma once
// Records one camera, and optionally one microphone, into a square H.264
// QuickTime movie. Prints `started` when the first frame is in the file and,
// at the end, `stopped` or an error object, then ends the process itself.
// Every change of recording state happens on `queue_`.
#include "jobs/camera/CameraTimeline.h"
#include "platform/CameraDevices.h"
#include "platform/CaptureSession.h"
#include "platform/MovieWriter.h"
#include "runtime/Queue.h"
#include "shell/UserError.h"
#include "json/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvane::jobs::camera {

// Initialization's own failures; what() is the sentence for the user.
class RecorderError : public UserError {
  public:
    using UserError::UserError;
};

// What the recording needs from the system; tests give their own.
struct CameraRecordingServices {
    std::function<std::unique_ptr<platform::CaptureSession>(const platform::CaptureDevice&)>
        makeSession;
    std::function<std::unique_ptr<platform::MovieWriter>(const platform::MovieSettings&)>
        openWriter;
    std::function<double()> hostTime; // when the session has no clock of its own
    std::function<double()> wallTime; // seconds since 1970-01-01 UTC
    // Prints a line; false when the host application did not get it.
    std::function<bool(const json::Object&)> print;
    // Prints the final line and ends the process with `status`.
    std::function<void(const json::Object&, int status)> end;

    static CameraRecordingServices system();
};

// The movie's settings for an edge length of `size` pixels.
platform::MovieSettings cameraMovieSettings(const std::string& file, std::int64_t size, bool audio);

class CameraRecording final : private platform::CaptureDelegate {
  public:
    // Clears `file`, sets up the capture session and the movie writer. Does
    // not start capturing. Throws RecorderError or the writer's MovieError.
    CameraRecording(std::string file, std::int64_t size, platform::CaptureDevice camera,
                    std::optional<platform::CaptureDevice> microphone,
                    CameraRecordingServices services = CameraRecordingServices::system());
    ~CameraRecording() override;
    CameraRecording(const CameraRecording&) = delete;
    CameraRecording& operator=(const CameraRecording&) = delete;

    // Starts the capture session on the control queue; returns at once.
    void start();
    // Ends the recording when no frame has been written yet.
    void checkStarted();
    // Ends the recording, as a lost camera does, when pictures were written
    // but none for `stallSeconds`.
    void checkStalled();
    static constexpr double stallSeconds = 5;
    // Ends the recording; only the first ending of any kind does anything.
    void stop(std::optional<std::string> reason = std::nullopt);

    // Device notifications of the session, told on a platform thread.
    void observeSession(platform::CaptureObserver observer);

  private:
    void setUpSession(const std::optional<platform::CaptureDevice>& microphone);
    void openWriter(bool audio);
    void chooseFrameRate();
    void captureVideo(const platform::VideoFrame& frame, double time) override;
    void captureAudio(const std::int16_t* samples, int frames, double time) override;
    void writeVideo(const platform::VideoFrame& frame, double stamp);
    void failWriting(const std::string& message);
    void noPictureCheck();
    void stallCheck();
    void stopNow(const std::optional<std::string>& reason);
    void finishWriting(double duration, const std::optional<std::string>& reason);
    void cancelWriting();
    // Ends the movie with its last picture one frame long; notes how that went.
    void closeWriter();
    std::string writerErrorDescription() const;

    enum class WriterStatus { idle, writing, completed, failed, cancelled };

    CameraRecordingServices services_;
    runtime::SerialQueue queue_{"quorvane.camera"};
    runtime::SerialQueue control_{"quorvane.camera.control"};
    std::unique_ptr<platform::CaptureSession> session_;
    platform::CaptureDevice camera_;
    const std::string file_;
    const std::string shownFile_; // file_ as valid text, for the lines
    const std::int64_t size_;
    std::unique_ptr<platform::MovieWriter> writer_;
    WriterStatus writerStatus_ = WriterStatus::idle;
    std::string writerError_;
    bool audioInput_ = false;
    bool mic_ = false;
    bool sessionStarted_ = false;
    CameraTimeline timeline_; // the pictures' times in the movie
    double sessionStart_ = 0; // presentation time that is 0 in the movie
    std::optional<double> firstTime_;
    std::optional<double> lastTime_;
    double lastWrittenAt_ = 0; // host time when the latest picture was written
    bool stopping_ = false;
};

} // namespace quorvane::jobs::camera
