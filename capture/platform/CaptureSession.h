#pragma once
// A live camera (and optional microphone) pipeline. Pictures and sound arrive
// on the delegate's queue with presentation times in seconds on one clock,
// the session's synchronization clock.
#include "platform/HostClock.h"
#include "platform/MovieWriter.h"
#include "runtime/Queue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::platform {

struct CaptureDevice;

class CaptureDelegate {
  public:
    virtual ~CaptureDelegate() = default;
    // `frame` is valid only during the call.
    virtual void captureVideo(const VideoFrame& frame, double time) = 0;
    // Interleaved signed 16-bit samples at the rate asked for.
    virtual void captureAudio(const std::int16_t* samples, int frames, double time) = 0;
};

enum class SessionPreset { size1920x1080, size1280x720, high };

struct FrameRateRange {
    double minFrameRate = 0;
    double maxFrameRate = 0;
};

// What happened to a running session; told on a platform thread.
enum class CaptureNotice {
    runtimeError, // the description says what
    deviceDisconnected,
    interrupted, // another process took the camera
};
using CaptureObserver = std::function<void(CaptureNotice, const std::string& description)>;

class CaptureSession {
  public:
    virtual ~CaptureSession() = default;

    // Whether the camera can deliver this capture size; when it can, it is
    // the size used from now on.
    virtual bool setPreset(SessionPreset preset) = 0;
    // Opens the camera; false when it cannot be opened or added.
    virtual bool addCameraInput() = 0;
    // Pictures of `size` × `size` pixels (the centred square of the capture
    // size, scaled), late pictures discarded rather than queued.
    virtual bool addVideoOutput(int size, CaptureDelegate& delegate, runtime::Queue& queue) = 0;
    virtual bool supportsMirroring() const = 0;
    virtual void setMirrored(bool mirrored) = 0;
    // Adds the microphone (mono, `sampleRate`); false when it cannot.
    virtual bool addAudio(const CaptureDevice& microphone, int sampleRate,
                          CaptureDelegate& delegate, runtime::Queue& queue) = 0;
    // Closes the microphone again (the movie could not take its sound).
    virtual void removeAudio() = 0;

    // The camera's frame rates for the chosen capture size, in its order.
    virtual std::vector<FrameRateRange> frameRateRanges() = 0;
    // Fixes the frame duration; false when the camera cannot be configured.
    virtual bool setFrameDuration(double seconds) = 0;

    virtual void startRunning() = 0;
    virtual void stopRunning() = 0;

    // Now on the clock of the presentation times, when the session has one.
    virtual std::optional<double> synchronizationClockNow() const = 0;

    // Set before startRunning(); called at most once per kind of notice.
    virtual void setObserver(CaptureObserver observer) = 0;
};

std::unique_ptr<CaptureSession> makeCaptureSession(const CaptureDevice& camera);

} // namespace quorvane::platform
