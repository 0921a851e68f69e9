#pragma once
// A camera and microphone for tests and the benchmark: a capture session
// that turns made-up YUYV camera pictures into recorded pictures with the
// real V4L2 frame converter and hands them, and sound, to the recording's
// queue the way the V4L2 session does. The test decides when each picture is
// taken and what the session clock says.
#include "platform/CameraDevices.h"
#include "platform/CaptureSession.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quorvane::testing {

// What the session was told and how it answers; shared by the test and the
// session the recording makes.
struct SyntheticCamera {
    // Answers.
    std::vector<platform::SessionPreset> acceptedPresets{platform::SessionPreset::size1920x1080,
                                                         platform::SessionPreset::size1280x720,
                                                         platform::SessionPreset::high};
    bool opens = true;
    bool picturesReadable = true;
    bool microphoneOpens = true;
    bool frameRateLockFails = false;
    std::vector<platform::FrameRateRange> frameRates{{1, 30}};
    bool hasClock = true;
    // Late pictures are discarded, as the real session does (benchmark);
    // tests keep every picture to stay deterministic.
    bool discardLate = false;
    // Sensor grain on every picture, which gives the encoder real work.
    bool noisy = false;
    // Pictures converted by swscale instead of libyuv (the benchmark's anchor).
    bool swscale = false;

    // What the session was asked.
    std::mutex lock;
    std::vector<platform::SessionPreset> presetsTried;
    std::optional<double> frameDuration;
    bool mirrored = false;
    bool microphoneRemoved = false;
    bool running = false;
    int stops = 0;
    platform::CaptureObserver observer;

    std::atomic<double> clock{0};
    std::atomic<std::int64_t> delivered{0};
    std::atomic<std::int64_t> dropped{0};

    // The session the recording makes (its services' makeSession).
    std::unique_ptr<platform::CaptureSession> makeSession();

    // Takes one picture at `time`: its left half bright, its right half dark,
    // with a moving bar so that every picture differs. False when dropped.
    bool frame(double time);
    // Pictures handed to the recording and not yet written.
    int outstanding() const;
    // Waits until the recording has started the session.
    bool waitUntilRunning();
    // Sends `frames` samples of a tone (or of silence) starting at `time`.
    void sound(double time, int frames, bool loud);

    // Set by the session.
    runtime::Queue* videoQueue = nullptr;
    platform::CaptureDelegate* delegate = nullptr;
    runtime::Queue* audioQueue = nullptr;
    platform::CaptureDelegate* audioDelegate = nullptr;
    int size = 0;
    int captureWidth = 1280;
    int captureHeight = 720;

    struct Pictures;
    std::shared_ptr<Pictures> pictures;
};

} // namespace quorvane::testing
