#pragma once
// Cuts a stream of 16 kHz mono samples into utterances at pauses, by frame
// energy against a running noise floor, so that long recordings are decoded
// piece by piece in bounded memory. Stretches without speech are dropped.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace quorvane::backends::pocketsphinx {

struct Utterance {
    std::int64_t firstSample = 0; // position of samples[0] in the stream
    std::vector<std::int16_t> samples;
};

struct SplitterSettings {
    int frameSamples = 160;       // 10 ms
    int pauseFrames = 30;         // a pause this long ends an utterance
    int marginFrames = 15;        // silence kept on each side of speech
    int maxFrames = 2000;         // an utterance is cut, at its quietest frame, beyond this
    double absoluteFloorDb = -60; // quieter than this (dB full scale) is never speech
    double initialFloorDb = -40;  // the noise floor assumed before any frame is quieter
    double speechOverFloorDb = 12;
    double floorRiseDbPerFrame = 0.02; // slow, so a long stretch of speech stays above it
};

class UtteranceSplitter {
  public:
    using Emit = std::function<void(Utterance&&)>;

    explicit UtteranceSplitter(Emit emit, SplitterSettings settings = {});

    void push(const std::int16_t* samples, std::size_t count);

    // Emits what is left when it holds speech.
    void finish();

    std::int64_t samplesPushed() const { return pushed_; }

    // Stream position before which every sample has been emitted in an
    // utterance or dropped as silence.
    std::int64_t settledThrough() const { return bufferStart_; }

  private:
    void addFrame(std::size_t frameStart);
    void emitFrames(std::size_t frames); // the first `frames` frames, then drops them
    void dropFrames(std::size_t frames);

    Emit emit_;
    SplitterSettings s_;
    std::int64_t pushed_ = 0;
    std::int64_t bufferStart_ = 0;     // stream position of buffer_[0]
    std::vector<std::int16_t> buffer_; // the current utterance, whole frames then a partial one
    std::vector<float> energy_;        // dB of each whole frame in buffer_
    std::vector<char> speech_;         // whether each whole frame is speech
    std::size_t speechFrames_ = 0;     // speech frames in buffer_
    std::size_t trailingSilence_ = 0;  // non-speech frames at the end of buffer_
    double floor_ = 0;
    bool floorSet_ = false;
};

} // namespace quorvane::backends::pocketsphinx
