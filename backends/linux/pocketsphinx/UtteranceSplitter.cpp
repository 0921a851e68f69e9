#include "pocketsphinx/UtteranceSplitter.h"

#include <algorithm>
#include <cmath>

namespace quorvane::backends::pocketsphinx {

UtteranceSplitter::UtteranceSplitter(Emit emit, SplitterSettings settings)
    : emit_(std::move(emit)), s_(settings) {}

void UtteranceSplitter::push(const std::int16_t* samples, std::size_t count) {
    const auto frame = static_cast<std::size_t>(s_.frameSamples);
    pushed_ += static_cast<std::int64_t>(count);
    while (count > 0) {
        const std::size_t inFrame = buffer_.size() - energy_.size() * frame;
        const std::size_t take = std::min(count, frame - inFrame);
        buffer_.insert(buffer_.end(), samples, samples + take);
        samples += take;
        count -= take;
        if (inFrame + take == frame) addFrame(energy_.size() * frame);
    }
}

void UtteranceSplitter::addFrame(std::size_t frameStart) {
    double sum = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(s_.frameSamples); ++i) {
        const double x = buffer_[frameStart + i] / 32768.0;
        sum += x * x;
    }
    const double db = 10.0 * std::log10(sum / s_.frameSamples + 1e-12);
    const double floor = backgroundAfter(static_cast<float>(db));
    const bool speech = db > std::max(s_.absoluteFloorDb, floor + s_.speechOverFloorDb);
    energy_.push_back(static_cast<float>(db));
    speech_.push_back(speech ? 1 : 0);
    if (speech) {
        ++speechFrames_;
        trailingSilence_ = 0;
    } else {
        ++trailingSilence_;
    }

    const auto margin = static_cast<std::size_t>(s_.marginFrames);
    if (speechFrames_ == 0) {
        // Only silence so far: keep just the margin that leads into speech.
        if (energy_.size() > margin) dropFrames(energy_.size() - margin);
        return;
    }
    if (trailingSilence_ >= static_cast<std::size_t>(s_.pauseFrames)) {
        emitFrames(energy_.size() - trailingSilence_ + margin);
        return;
    }
    if (energy_.size() >= static_cast<std::size_t>(s_.maxFrames)) {
        // No pause long enough: cut where the second half is quietest.
        const auto half = energy_.begin() + static_cast<std::ptrdiff_t>(energy_.size() / 2);
        const auto quietest = std::min_element(half, energy_.end());
        emitFrames(static_cast<std::size_t>(quietest - energy_.begin()) + 1);
    }
}

namespace {
// Frame levels are counted in half-dB bins from -130 dB (digital silence) up.
constexpr double lowestBinDb = -130;
constexpr double binDb = 0.5;
constexpr std::size_t binCount = 300;
} // namespace

double UtteranceSplitter::backgroundAfter(float db) {
    const auto window = static_cast<std::size_t>(std::max(1, s_.floorWindowFrames));
    if (binCounts_.empty()) binCounts_.assign(binCount, 0);
    const double position = std::floor((db - lowestBinDb) / binDb);
    const auto bin =
        static_cast<std::uint16_t>(std::clamp(position, 0.0, static_cast<double>(binCount - 1)));
    if (recentBins_.size() < window) {
        recentBins_.push_back(bin);
    } else {
        --binCounts_[recentBins_[recentNext_]];
        recentBins_[recentNext_] = bin;
        recentNext_ = (recentNext_ + 1) % window;
    }
    ++binCounts_[bin];
    ++framesSeen_;

    const auto heardFrames = recentBins_.size();
    const auto wanted = std::max<std::size_t>(
        1, static_cast<std::size_t>(std::ceil(s_.floorShare * static_cast<double>(heardFrames))));
    std::size_t counted = 0;
    std::size_t level = 0;
    while (level + 1 < binCount && (counted += binCounts_[level]) < wanted)
        ++level;
    const double heard = lowestBinDb + (static_cast<double>(level) + 1) * binDb;
    // Until a whole window has been heard the file may have begun with
    // speech: the background is then taken as no louder than a quiet room.
    return heardFrames < window ? std::min(heard, s_.initialFloorDb) : heard;
}

void UtteranceSplitter::emitFrames(std::size_t frames) {
    const auto n = static_cast<std::ptrdiff_t>(frames * static_cast<std::size_t>(s_.frameSamples));
    Utterance u;
    u.firstSample = bufferStart_;
    u.samples.assign(buffer_.begin(), buffer_.begin() + n);
    dropFrames(frames);
    emit_(std::move(u));
}

void UtteranceSplitter::dropFrames(std::size_t frames) {
    const auto n = static_cast<std::ptrdiff_t>(frames * static_cast<std::size_t>(s_.frameSamples));
    buffer_.erase(buffer_.begin(), buffer_.begin() + n);
    bufferStart_ += n;
    energy_.erase(energy_.begin(), energy_.begin() + static_cast<std::ptrdiff_t>(frames));
    speech_.erase(speech_.begin(), speech_.begin() + static_cast<std::ptrdiff_t>(frames));
    speechFrames_ = static_cast<std::size_t>(std::count(speech_.begin(), speech_.end(), 1));
    trailingSilence_ = 0;
    for (auto it = speech_.rbegin(); it != speech_.rend() && *it == 0; ++it)
        ++trailingSilence_;
}

void UtteranceSplitter::finish() {
    if (speechFrames_ > 0) {
        Utterance u;
        u.firstSample = bufferStart_;
        u.samples = std::move(buffer_);
        emit_(std::move(u));
    }
    buffer_.clear();
    energy_.clear();
    speech_.clear();
    bufferStart_ = pushed_;
    speechFrames_ = 0;
    trailingSilence_ = 0;
}

} // namespace quorvane::backends::pocketsphinx
