#pragma once
// Decodes utterances on several threads at once, each thread with a decoder
// of its own, and hands the results back in the order the utterances came,
// on the thread that feeds them. At most `maxInFlight` utterances are queued,
// being decoded or waiting to be handed back, so memory stays bounded
// whatever the length of the audio.
#include "platform/SpeechEngine.h"
#include "pocketsphinx/UtteranceSplitter.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace quorvane::backends::pocketsphinx {

// One decoder, used by one thread at a time. Times in its results are
// seconds from the start of the stream the utterance came from.
class UtteranceDecoder {
  public:
    virtual ~UtteranceDecoder() = default;
    // Throws SpeechError.
    virtual platform::SpeechResult decode(const Utterance& utterance) = 0;
};

// Makes a decoder; called on the thread that will use it. Throws SpeechError.
using DecoderFactory = std::function<std::unique_ptr<UtteranceDecoder>()>;

// How many decoders are worth running: the processors this process may run
// on (so `taskset -c 0` gives one), at most `cap`.
int decodingThreads(int cap);

class DecodingPipeline {
  public:
    // Delivers one utterance's result (possibly without runs) and its end,
    // in samples from the start of the stream.
    using Deliver = std::function<void(platform::SpeechResult&&, std::int64_t endSample)>;

    // The first decoder is made here, so a model that cannot be loaded fails
    // at once (SpeechError); the other threads make theirs when they start,
    // and a thread whose decoder cannot be made leaves the work to the rest.
    DecodingPipeline(int threads, std::size_t maxInFlight, DecoderFactory factory, Deliver deliver);
    ~DecodingPipeline(); // drops what is still queued and waits for the threads

    DecodingPipeline(const DecodingPipeline&) = delete;
    DecodingPipeline& operator=(const DecodingPipeline&) = delete;

    // Queues `utterance`, first handing back every result that is ready in
    // order, and waiting while the pipeline is full. A decoding failure is
    // rethrown here or in finish(), in the utterance's turn.
    void submit(Utterance&& utterance);

    // Hands back every remaining result, waiting for each in turn.
    void finish();

    // Stream position (samples) before which every utterance has been handed
    // back: the start of the oldest one still in the pipeline, or nothing
    // when it is empty.
    std::optional<std::int64_t> oldestPending() const;

  private:
    struct Slot {
        std::int64_t firstSample = 0;
        std::int64_t endSample = 0;
        std::optional<Utterance> waiting; // taken by a thread when it starts on it
        bool done = false;
        platform::SpeechResult result;
        std::exception_ptr error;
    };

    void work(std::unique_ptr<UtteranceDecoder> decoder);
    // Hands back the oldest slot; called with `lock` held, released while delivering.
    void deliverFront(std::unique_lock<std::mutex>& lock);

    const std::size_t maxInFlight_;
    Deliver deliver_;
    DecoderFactory factory_;
    mutable std::mutex lock_;
    std::condition_variable workReady_; // threads wait here for an utterance
    std::condition_variable slotDone_;  // the feeding thread waits here for a result
    std::deque<Slot> slots_;            // oldest first; front has sequence `frontSequence_`
    std::uint64_t frontSequence_ = 0;
    std::uint64_t nextToTake_ = 0; // sequence of the first slot no thread has taken
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace quorvane::backends::pocketsphinx
