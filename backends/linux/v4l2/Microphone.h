#pragma once
// The default microphone through libavdevice: the PulseAudio (or PipeWire)
// default source, else ALSA's "default" device. A sound server that stops
// answering never holds the recording: opening has a deadline, and a stop
// waits only briefly for a read that does not return.
#include "platform/CameraDevices.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quorvane::backends::v4l2 {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

// How long opening the microphone may take before the movie goes silent.
constexpr std::chrono::milliseconds microphoneOpenDeadline{2000};
// How long a stop waits for the microphone's reader to finish.
constexpr std::chrono::milliseconds microphoneStopWait{500};

// The default microphone when one can be opened within the deadline.
std::optional<CaptureDevice> findMicrophone();

class MicrophoneCapture {
  public:
    // Mono signed 16-bit samples and the monotonic time of the first one.
    using Deliver = std::function<void(std::vector<std::int16_t> samples, double time)>;

    // Opens `microphone` within the deadline; nothing when it cannot be.
    static std::unique_ptr<MicrophoneCapture> open(const CaptureDevice& microphone, int sampleRate);
    // What the reader thread shares with this object, and keeps alive when
    // it is left behind.
    struct Reader;
    explicit MicrophoneCapture(std::shared_ptr<Reader> reader); // an opened reader
    ~MicrophoneCapture();                                       // stops
    MicrophoneCapture(const MicrophoneCapture&) = delete;
    MicrophoneCapture& operator=(const MicrophoneCapture&) = delete;

    // Reads on a thread of its own and hands each piece to `deliver`; the
    // sound simply ends when the source fails or stops answering.
    void start(Deliver deliver);
    // No piece is delivered once this returns. Waits at most
    // microphoneStopWait for the reader; one held in a read that does not
    // return is left to end on its own.
    void stop();

  private:
    std::shared_ptr<Reader> reader_;
    bool started_ = false;
};

} // namespace quorvane::backends::v4l2
