#include "jobs/faces/VideoProgress.h"

#include <algorithm>
#include <cmath>

namespace quorvane::jobs::faces {
namespace {

class ProgressVideo final : public platform::VideoSource {
  public:
    ProgressVideo(std::unique_ptr<platform::VideoSource> video, double every,
                  std::int64_t maxFrames, ShareDone onShare)
        : video_(std::move(video)), every_(every), onShare_(std::move(onShare)) {
        const double length = video_->duration();
        span_ = std::min(length, every * static_cast<double>(maxFrames));
    }

    double duration() const override { return video_->duration(); }
    bool hasPictureTrack() const override { return video_->hasPictureTrack(); }
    platform::ShownSize shownSize() const override { return video_->shownSize(); }

    std::optional<platform::Picture> pictureAt(double seconds, int maxWidth,
                                               int maxHeight) override {
        auto picture = video_->pictureAt(seconds, maxWidth, maxHeight);
        // The sample at `seconds` covers the span up to the next one.
        if (span_ > 0 && std::isfinite(span_)) onShare_(std::min((seconds + every_) / span_, 1.0));
        return picture;
    }

  private:
    std::unique_ptr<platform::VideoSource> video_;
    double every_;
    double span_ = 0;
    ShareDone onShare_;
};

} // namespace

std::unique_ptr<platform::VideoSource>
reportingProgress(std::unique_ptr<platform::VideoSource> video, double every,
                  std::int64_t maxFrames, ShareDone onShare) {
    return std::make_unique<ProgressVideo>(std::move(video), every, maxFrames, std::move(onShare));
}

} // namespace quorvane::jobs::faces
