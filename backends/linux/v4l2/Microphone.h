#pragma once
// The default microphone through libavdevice: the PulseAudio (or PipeWire)
// default source, else ALSA's "default" device.
#include "platform/CameraDevices.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace quorvane::backends::v4l2 {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

// The default microphone when one can be opened.
std::optional<CaptureDevice> findMicrophone();

class MicrophoneCapture {
  public:
    // Mono signed 16-bit samples and the monotonic time of the first one.
    using Deliver = std::function<void(std::vector<std::int16_t> samples, double time)>;

    // Opens `microphone`; nothing when it cannot be opened.
    static std::unique_ptr<MicrophoneCapture> open(const CaptureDevice& microphone, int sampleRate);
    explicit MicrophoneCapture(int sampleRate);
    ~MicrophoneCapture(); // stops
    MicrophoneCapture(const MicrophoneCapture&) = delete;
    MicrophoneCapture& operator=(const MicrophoneCapture&) = delete;

    void start(Deliver deliver);
    void stop();

    struct Input;

  private:
    void run(const Deliver& deliver);

    std::unique_ptr<Input> input_;
    int sampleRate_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace quorvane::backends::v4l2
