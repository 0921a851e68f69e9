#include "jobs/faces/DetectionPool.h"

#include <algorithm>
#include <exception>

namespace quorvane::jobs::faces {

DetectionPool::DetectionPool(const Detectors& detectors, double enlargement, std::size_t window)
    : enlargement_(enlargement), window_(std::max<std::size_t>(window, 1)) {
    threads_.reserve(detectors.size());
    for (const auto& detector : detectors) {
        try {
            threads_.emplace_back([this, d = detector.get()] { work(*d); });
        } catch (const std::exception&) {
            break; // fewer workers still do the work
        }
    }
    if (threads_.empty() && !detectors.empty()) inline_ = detectors.front().get();
}

DetectionPool::~DetectionPool() {
    {
        const std::lock_guard hold(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (auto& thread : threads_)
        thread.join();
}

DetectionPool::Outcome DetectionPool::examine(platform::FaceDetector& detector,
                                              const platform::Picture& picture) const {
    try {
        return detector.detect(picture, enlargement_);
    } catch (const std::exception&) {
        return std::nullopt; // a failed look is a sample without faces
    }
}

std::size_t DetectionPool::submit(std::shared_ptr<const platform::Picture> picture) {
    std::unique_lock hold(lock_);
    const std::size_t number = outcomes_.size();
    outcomes_.emplace_back();
    if (threads_.empty()) {
        if (!inline_) return number; // no detector at all: nothing found
        hold.unlock();
        Outcome outcome = examine(*inline_, *picture);
        hold.lock();
        outcomes_[number] = std::move(outcome);
        return number;
    }
    changed_.wait(hold, [&] { return unfinished_ < window_; });
    waiting_.emplace_back(number, std::move(picture));
    ++unfinished_;
    hold.unlock();
    changed_.notify_all();
    return number;
}

std::vector<DetectionPool::Outcome> DetectionPool::finish() {
    std::unique_lock hold(lock_);
    changed_.wait(hold, [&] { return unfinished_ == 0; });
    return std::move(outcomes_);
}

void DetectionPool::work(platform::FaceDetector& detector) {
    std::unique_lock hold(lock_);
    for (;;) {
        changed_.wait(hold, [&] { return stopping_ || !waiting_.empty(); });
        if (stopping_) return;
        auto [number, picture] = std::move(waiting_.front());
        waiting_.pop_front();
        hold.unlock();
        Outcome outcome = examine(detector, *picture);
        picture.reset(); // its memory goes back before the window opens
        hold.lock();
        outcomes_[number] = std::move(outcome);
        --unfinished_;
        changed_.notify_all();
    }
}

} // namespace quorvane::jobs::faces
