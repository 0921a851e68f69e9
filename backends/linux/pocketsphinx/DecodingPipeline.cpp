#include "pocketsphinx/DecodingPipeline.h"
#include "system/UsableProcessors.h"

#include <algorithm>
#include <system_error>

namespace quorvane::backends::pocketsphinx {

int decodingThreads(int cap) {
    return std::clamp(system::usableProcessors(), 1, std::max(cap, 1));
}

DecodingPipeline::DecodingPipeline(int threads, std::size_t maxInFlight, DecoderFactory factory,
                                   Deliver deliver)
    : maxInFlight_(std::max<std::size_t>(maxInFlight, 1)), deliver_(std::move(deliver)),
      factory_(std::move(factory)) {
    auto first = factory_();
    threads_.reserve(static_cast<std::size_t>(std::max(threads, 1)));
    try {
        threads_.emplace_back([this, d = std::move(first)]() mutable { work(std::move(d)); });
        for (int i = 1; i < threads; ++i)
            threads_.emplace_back([this] { work(nullptr); });
    } catch (const std::system_error&) {
        // Fewer threads than asked for still do the work; none at all cannot.
        if (threads_.empty()) throw platform::SpeechError("The speech engine could not start.");
    }
}

DecodingPipeline::~DecodingPipeline() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    workReady_.notify_all();
    for (auto& t : threads_)
        t.join();
}

void DecodingPipeline::work(std::unique_ptr<UtteranceDecoder> decoder) {
    if (!decoder) {
        try {
            decoder = factory_();
        } catch (const std::exception&) {
            return; // the threads that have a decoder do the work
        }
    }
    std::unique_lock lock(lock_);
    for (;;) {
        workReady_.wait(
            lock, [this] { return stopping_ || nextToTake_ < frontSequence_ + slots_.size(); });
        if (stopping_) return;
        const std::uint64_t sequence = nextToTake_++;
        Slot* slot = &slots_[static_cast<std::size_t>(sequence - frontSequence_)];
        Utterance utterance = std::move(*slot->waiting);
        slot->waiting.reset();
        lock.unlock();

        platform::SpeechResult result;
        std::exception_ptr error;
        try {
            result = decoder->decode(utterance);
        } catch (...) {
            error = std::current_exception();
        }

        lock.lock();
        // Slots are removed from the front only once done, so this one is still there.
        slot = &slots_[static_cast<std::size_t>(sequence - frontSequence_)];
        slot->result = std::move(result);
        slot->error = error;
        slot->done = true;
        slotDone_.notify_all();
    }
}

void DecodingPipeline::deliverFront(std::unique_lock<std::mutex>& lock) {
    Slot slot = std::move(slots_.front());
    slots_.pop_front();
    ++frontSequence_;
    lock.unlock();
    if (slot.error) {
        lock.lock();
        std::rethrow_exception(slot.error);
    }
    deliver_(std::move(slot.result), slot.endSample);
    lock.lock();
}

void DecodingPipeline::submit(Utterance&& utterance) {
    std::unique_lock lock(lock_);
    while (!slots_.empty() && (slots_.front().done || slots_.size() >= maxInFlight_)) {
        slotDone_.wait(lock, [this] { return slots_.front().done; });
        deliverFront(lock);
    }
    Slot slot;
    slot.firstSample = utterance.firstSample;
    slot.endSample = utterance.firstSample + static_cast<std::int64_t>(utterance.samples.size());
    slot.waiting = std::move(utterance);
    slots_.push_back(std::move(slot));
    lock.unlock();
    workReady_.notify_one();
}

void DecodingPipeline::finish() {
    std::unique_lock lock(lock_);
    while (!slots_.empty()) {
        slotDone_.wait(lock, [this] { return slots_.front().done; });
        deliverFront(lock);
    }
}

std::optional<std::int64_t> DecodingPipeline::oldestPending() const {
    std::lock_guard guard(lock_);
    if (slots_.empty()) return std::nullopt;
    return slots_.front().firstSample;
}

} // namespace quorvane::backends::pocketsphinx
