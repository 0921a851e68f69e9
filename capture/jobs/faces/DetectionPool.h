#pragma once
// Face detection on worker threads, one per detector: pictures go in in
// order, and their outcomes come back by the order they went in, whatever
// thread examined them. At most `window` pictures wait or are examined at
// once, so memory stays bounded however long the video.
#include "jobs/faces/Faces.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace quorvane::jobs::faces {

class DetectionPool {
  public:
    // The faces of one picture; nothing when the detector failed on it.
    using Outcome = std::optional<std::vector<platform::FaceObservation>>;

    DetectionPool(const Detectors& detectors, double enlargement, std::size_t window);
    ~DetectionPool(); // stops the workers, leaving what waits unexamined
    DetectionPool(const DetectionPool&) = delete;
    DetectionPool& operator=(const DetectionPool&) = delete;

    // Hands the picture to the workers, waiting while the window is full;
    // returns its number (0, 1, 2, … in the order of submission).
    std::size_t submit(std::shared_ptr<const platform::Picture> picture);

    // Waits for every submitted picture; their outcomes by number.
    std::vector<Outcome> finish();

  private:
    void work(platform::FaceDetector& detector);
    Outcome examine(platform::FaceDetector& detector, const platform::Picture& picture) const;

    double enlargement_;
    std::size_t window_;
    std::mutex lock_; // guards everything below but the threads
    std::condition_variable changed_;
    std::deque<std::pair<std::size_t, std::shared_ptr<const platform::Picture>>> waiting_;
    std::size_t unfinished_ = 0;    // waiting or being examined
    std::vector<Outcome> outcomes_; // by number
    bool stopping_ = false;
    platform::FaceDetector* inline_ = nullptr; // when no worker thread could start
    std::vector<std::thread> threads_;
};

} // namespace quorvane::jobs::faces
