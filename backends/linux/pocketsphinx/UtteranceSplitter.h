#pragma once
// Cuts a stream of 16 kHz mono samples into utterances at pauses, by frame
// energy against the background's level, so that long recordings are decoded
// piece by piece in bounded memory. Stretches at the background's level are
// dropped; anything louder is kept.
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
    double initialFloorDb = -40;  // the background assumed until a whole window has been heard
    // Louder than the background by more than this is sound worth decoding.
    // Speech over a steady hum may stand only a few dB above it.
    double speechOverFloorDb = 4;
    // The background is the level that the quietest `floorShare` of the last
    // `floorWindowFrames` frames reach: it rises only when nearly a whole
    // window stays louder, so speech that seldom pauses cannot lift it over
    // itself, and a few very quiet frames do not pull it below a steady hum.
    int floorWindowFrames = 1000;
    double floorShare = 0.05;
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
    double backgroundAfter(float db);    // takes in one more frame's level
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
    // The last window's frame levels, as bins of a histogram, and how many
    // frames fall in each bin.
    std::vector<std::uint16_t> recentBins_;
    std::size_t recentNext_ = 0;
    std::vector<std::uint32_t> binCounts_;
    std::int64_t framesSeen_ = 0;
};

} // namespace quorvane::backends::pocketsphinx
