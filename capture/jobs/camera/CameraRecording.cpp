#include "jobs/camera/CameraRecording.h"

#include "shell/PlainFile.h"
#include "text/Numbers.h"
#include "text/Utf8.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace quorvane::jobs {
namespace {

constexpr double frameDuration = 1.0 / 30.0;
constexpr int audioSampleRate = 48000;

// Only a plain file is ever removed: --out may be /dev/null.
void removeFile(const std::string& path) {
    if (!shell::isPlainFile(path)) return;
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

} // namespace

platform::MovieSettings cameraMovieSettings(const std::string& file, std::int64_t size,
                                            bool audio) {
    platform::MovieSettings settings;
    settings.path = file;
    settings.video.width = static_cast<int>(size);
    settings.video.height = static_cast<int>(size);
    settings.video.bitRate = std::max<std::int64_t>(2000000, size * size * 30 / 6);
    settings.video.expectedFps = 30;
    // Large squares take the encoder's quickest preset so that 30 pictures
    // a second cost at most half a core (the bit rate keeps the quality).
    settings.video.preset = size > 1080 ? "ultrafast" : "veryfast";
    // A key frame every 60 frames at 30 frames per second; each starts a
    // fragment, so a killed recording keeps all but its last two seconds.
    settings.video.keyFrameSeconds = 60 / 30.0;
    if (audio) settings.audio = platform::AudioSettings{audioSampleRate, 1, 128000};
    return settings;
}

CameraRecording::CameraRecording(std::string file, std::int64_t size,
                                 platform::CaptureDevice camera,
                                 std::optional<platform::CaptureDevice> microphone,
                                 CameraRecordingServices services)
    : services_(std::move(services)), session_(services_.makeSession(camera)),
      camera_(std::move(camera)), file_(std::move(file)), shownFile_(text::validUtf8(file_)),
      size_(size) {
    removeFile(file_);
    setUpSession(microphone);
    // The writer comes last so that a refused microphone leaves no empty
    // sound track, and a camera that cannot be opened leaves no file.
    openWriter(mic_);
}

CameraRecording::~CameraRecording() {
    // Only tests get here (the process ends through services_.end): let
    // every queued item finish before the writer and session go.
    control_.sync([] {});
    session_->stopRunning();
    queue_.sync([] {});
}

void CameraRecording::setUpSession(const std::optional<platform::CaptureDevice>& microphone) {
    // Larger captures keep detail when the square is cut out and scaled.
    const auto presets =
        size_ > 720
            ? std::vector{platform::SessionPreset::size1920x1080,
                          platform::SessionPreset::size1280x720, platform::SessionPreset::high}
            : std::vector{platform::SessionPreset::size1280x720, platform::SessionPreset::high};
    for (auto preset : presets) {
        if (session_->setPreset(preset)) break;
    }
    if (!session_->addCameraInput())
        throw RecorderError("The camera could not be opened. Another app may be using it.");
    if (!session_->addVideoOutput(static_cast<int>(size_), *this, queue_))
        throw RecorderError("The camera picture could not be read.");
    // Recorded as the user sees themself in a mirror.
    if (session_->supportsMirroring()) session_->setMirrored(true);
    if (microphone) mic_ = session_->addAudio(*microphone, audioSampleRate, *this, queue_);
    chooseFrameRate();
}

void CameraRecording::chooseFrameRate() {
    for (const auto& range : session_->frameRateRanges()) {
        if (range.minFrameRate <= 30 && range.maxFrameRate >= 30) {
            session_->setFrameDuration(frameDuration); // a camera that refuses keeps its own rate
            return;
        }
    }
}

void CameraRecording::openWriter(bool audio) {
    try {
        writer_ = services_.openWriter(cameraMovieSettings(file_, size_, audio));
        audioInput_ = audio;
    } catch (const platform::MovieError&) {
        removeFile(file_);
        if (!audio) throw;
        // The movie is still worth making without its sound.
        writer_ = services_.openWriter(cameraMovieSettings(file_, size_, false));
        audioInput_ = false;
        mic_ = false;
        // Nothing would take its sound: let another program have it.
        session_->removeAudio();
    }
}

void CameraRecording::start() {
    control_.async([this] { session_->startRunning(); });
}

void CameraRecording::checkStarted() {
    queue_.async([this] { noPictureCheck(); });
}

void CameraRecording::checkStalled() {
    queue_.async([this] { stallCheck(); });
}

void CameraRecording::stop(std::optional<std::string> reason) {
    queue_.async([this, reason = std::move(reason)] { stopNow(reason); });
}

void CameraRecording::observeSession(platform::CaptureObserver observer) {
    session_->setObserver(std::move(observer));
}

void CameraRecording::captureVideo(const platform::VideoFrame& frame, double time) {
    if (stopping_) return;
    writeVideo(frame, time);
}

void CameraRecording::captureAudio(const std::int16_t* samples, int frames, double time) {
    if (stopping_) return;
    // Sound before the first picture would play over a movie not yet begun.
    if (!audioInput_ || !firstTime_ || time < *firstTime_ || writerStatus_ != WriterStatus::writing)
        return;
    try {
        writer_->writeAudio(samples, frames, time - sessionStart_);
    } catch (const platform::MovieError&) {
        // Sound never ends a recording.
    }
}

void CameraRecording::writeVideo(const platform::VideoFrame& frame, double stamp) {
    // A driver clock that steps back or jumps ahead must neither lose
    // pictures nor stretch the movie.
    const double time = timeline_.place(stamp, services_.hostTime());
    if (!sessionStarted_) {
        // The file and its encoders were opened with the recording, so
        // starting cannot fail; the first picture fixes the movie's time zero
        // even when it is not itself written.
        writerStatus_ = WriterStatus::writing;
        sessionStart_ = time;
        sessionStarted_ = true;
    }
    const double now = session_->synchronizationClockNow().value_or(services_.hostTime());
    const double age = now - time;
    const double wall = services_.wallTime();
    const std::int64_t framesBefore = writer_->framesWritten();
    try {
        writer_->writeVideo(frame, time - sessionStart_);
        // The writer passes over a picture it cannot place after the last
        // one; such a movie would say it holds pictures it does not.
        if (writer_->framesWritten() == framesBefore)
            throw platform::MovieError("A picture could not be placed after the one before it.");
    } catch (const platform::MovieError& error) {
        // The writer stays open: failWriting closes it so that what was
        // written before is kept as a playable movie.
        writerError_ = error.what();
        failWriting("The video file could not be written. " + writerErrorDescription());
        return;
    }
    lastTime_ = time;
    lastWrittenAt_ = services_.hostTime();
    if (firstTime_) return;
    firstTime_ = time;
    const bool told = services_.print(json::Object{
        {"ok", true},
        {"event", "started"},
        {"width", size_},
        {"height", size_},
        {"mic", mic_},
        {"camera", text::validUtf8(camera_.localizedName)},
        {"at", wall - (std::isfinite(age) && age >= 0 ? age : 0.0)},
    });
    // A recording the host application was never told of: finish the movie
    // and end (the process then exits with status 1, standard output failed).
    if (!told) stopNow(std::nullopt);
}

void CameraRecording::failWriting(const std::string& message) {
    if (stopping_) return;
    stopping_ = true;
    session_->stopRunning();
    if (firstTime_ && writerStatus_ == WriterStatus::writing) {
        closeWriter(); // what was written so far is kept
    }
    services_.end(json::Object{{"ok", false}, {"error", message}, {"file", shownFile_}}, 1);
}

void CameraRecording::noPictureCheck() {
    if (firstTime_ || stopping_) return;
    stopping_ = true;
    session_->stopRunning();
    cancelWriting();
    services_.end(
        json::Object{{"ok", false},
                     {"error",
                      "The camera did not send a picture. Check that no other app is using it, "
                      "then try again."}},
        1);
}

void CameraRecording::stallCheck() {
    // Before the first picture the no-picture check decides.
    if (!firstTime_ || stopping_) return;
    if (services_.hostTime() - lastWrittenAt_ >= stallSeconds)
        stopNow("The camera stopped sending pictures.");
}

void CameraRecording::stopNow(const std::optional<std::string>& reason) {
    if (stopping_) return;
    stopping_ = true;
    session_->stopRunning();
    if (firstTime_ && lastTime_) {
        finishWriting(*lastTime_ - *firstTime_ + frameDuration, reason);
        return;
    }
    cancelWriting();
    const std::string message = reason ? "The camera stopped before it sent a picture. " + *reason
                                       : "The recording stopped before the camera sent a picture.";
    services_.end(json::Object{{"ok", false}, {"error", message}}, 1);
}

void CameraRecording::closeWriter() {
    try {
        // The last picture lasts one frame, as the duration says.
        writer_->finish(*lastTime_ - sessionStart_ + frameDuration);
        writerStatus_ = WriterStatus::completed;
    } catch (const platform::MovieError& error) {
        writerStatus_ = WriterStatus::failed;
        writerError_ = error.what();
    }
}

void CameraRecording::finishWriting(double duration, const std::optional<std::string>& reason) {
    closeWriter();
    if (writerStatus_ != WriterStatus::completed) {
        services_.end(json::Object{{"ok", false},
                                   {"error", "The video file could not be finished. " +
                                                 writerErrorDescription()},
                                   {"file", shownFile_}},
                      1);
        return;
    }
    json::Object stopped{
        {"ok", true},
        {"event", "stopped"},
        {"file", shownFile_},
        {"seconds", text::roundHalfAwayFromZero(duration, 3)},
    };
    if (reason) stopped["reason"] = *reason;
    services_.end(stopped, 0);
}

void CameraRecording::cancelWriting() {
    writer_.reset();
    writerStatus_ = WriterStatus::cancelled;
    removeFile(file_);
}

std::string CameraRecording::writerErrorDescription() const {
    return writerError_;
}

} // namespace quorvane::jobs
