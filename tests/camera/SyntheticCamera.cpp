#include "SyntheticCamera.h"

#include "v4l2/FrameConverter.h"

#include <chrono>
#include <cmath>
#include <linux/videodev2.h>
#include <random>
#include <thread>

namespace quorvane::testing {

struct SyntheticCamera::Pictures {
    std::unique_ptr<backends::v4l2::FrameConverter> converter;
    std::vector<std::vector<std::uint8_t>> captures; // a short loop of YUYV pictures
    std::size_t next = 0;
    std::atomic<int> outstanding{0};
};

namespace {

// Sensor noise, as a real camera has, gives the encoder real work.
std::vector<std::uint8_t> yuyvPicture(int width, int height, int barX, std::minstd_rand* noise) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(width) * height * 2);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; x += 2) {
            int luma = x < width / 2 ? 220 : 30;
            if (std::abs(x - barX) < 8 && y > height / 3 && y < height * 2 / 3) luma = 128;
            std::uint8_t* px = &p[(static_cast<std::size_t>(y) * width + x) * 2];
            auto grain = [&](int range) {
                return noise ? static_cast<int>((*noise)() % (2 * range + 1)) - range : 0;
            };
            px[0] = static_cast<std::uint8_t>(luma + grain(8));
            px[1] = static_cast<std::uint8_t>(128 + grain(4));
            px[2] = static_cast<std::uint8_t>(luma + grain(8));
            px[3] = static_cast<std::uint8_t>(128 + grain(4));
        }
    }
    return p;
}

class SyntheticSession final : public platform::CaptureSession {
  public:
    explicit SyntheticSession(SyntheticCamera& camera) : c_(camera) {}
    ~SyntheticSession() override { stopRunning(); }

    bool setPreset(platform::SessionPreset preset) override {
        std::lock_guard l(c_.lock);
        c_.presetsTried.push_back(preset);
        for (auto accepted : c_.acceptedPresets) {
            if (accepted != preset) continue;
            c_.captureWidth = preset == platform::SessionPreset::size1280x720 ? 1280 : 1920;
            c_.captureHeight = preset == platform::SessionPreset::size1280x720 ? 720 : 1080;
            return true;
        }
        return false;
    }
    bool addCameraInput() override { return c_.opens; }
    bool addVideoOutput(int size, platform::CaptureDelegate& delegate,
                        runtime::Queue& queue) override {
        if (!c_.picturesReadable) return false;
        c_.size = size;
        c_.delegate = &delegate;
        c_.videoQueue = &queue;
        c_.pictures = std::make_shared<SyntheticCamera::Pictures>();
        c_.pictures->converter = backends::v4l2::FrameConverter::make(
            V4L2_PIX_FMT_YUYV, c_.captureWidth, c_.captureHeight, c_.captureWidth * 2, size,
            c_.swscale ? backends::v4l2::Scaler::swscale : backends::v4l2::Scaler::fastest);
        std::minstd_rand noise(7);
        // A moving bar over 30 pictures for the benchmark; tests need two.
        const int count = c_.noisy ? 30 : 2;
        for (int i = 0; i < count; ++i)
            c_.pictures->captures.push_back(yuyvPicture(c_.captureWidth, c_.captureHeight,
                                                        i * c_.captureWidth / 30,
                                                        c_.noisy ? &noise : nullptr));
        return c_.pictures->converter != nullptr;
    }
    bool supportsMirroring() const override { return true; }
    void setMirrored(bool mirrored) override {
        std::lock_guard l(c_.lock);
        c_.mirrored = mirrored;
    }
    bool addAudio(const platform::CaptureDevice&, int, platform::CaptureDelegate& delegate,
                  runtime::Queue& queue) override {
        if (!c_.microphoneOpens) return false;
        c_.audioDelegate = &delegate;
        c_.audioQueue = &queue;
        return true;
    }
    void removeAudio() override {
        std::lock_guard l(c_.lock);
        c_.audioDelegate = nullptr;
        c_.audioQueue = nullptr;
        c_.microphoneRemoved = true;
    }
    std::vector<platform::FrameRateRange> frameRateRanges() override { return c_.frameRates; }
    bool setFrameDuration(double seconds) override {
        if (c_.frameRateLockFails) return false;
        std::lock_guard l(c_.lock);
        c_.frameDuration = seconds;
        return true;
    }
    void startRunning() override {
        std::lock_guard l(c_.lock);
        if (c_.stops == 0) c_.running = true;
    }
    void stopRunning() override {
        std::lock_guard l(c_.lock);
        c_.running = false;
        ++c_.stops;
    }
    std::optional<double> synchronizationClockNow() const override {
        if (!c_.hasClock) return std::nullopt;
        return c_.clock.load();
    }
    void setObserver(platform::CaptureObserver observer) override {
        std::lock_guard l(c_.lock);
        c_.observer = std::move(observer);
    }

  private:
    SyntheticCamera& c_;
};

} // namespace

std::unique_ptr<platform::CaptureSession> SyntheticCamera::makeSession() {
    return std::make_unique<SyntheticSession>(*this);
}

bool SyntheticCamera::frame(double time) {
    bool mirror;
    {
        std::lock_guard l(lock);
        if (!running || !pictures) return false;
        mirror = mirrored;
    }
    auto p = pictures;
    if (discardLate && p->outstanding.load() >= 2) { // as the V4L2 session
        ++dropped;
        return false;
    }
    auto picture = std::make_shared<backends::v4l2::SquarePicture>();
    const auto& capture = p->captures[p->next++ % p->captures.size()];
    if (!p->converter->convert(capture.data(), capture.size(), mirror, *picture)) return false;
    ++p->outstanding;
    ++delivered;
    videoQueue->async([this, p, picture, time] {
        delegate->captureVideo(picture->frame(), time);
        --p->outstanding;
    });
    return true;
}

int SyntheticCamera::outstanding() const {
    return pictures ? pictures->outstanding.load() : 0;
}

bool SyntheticCamera::waitUntilRunning() {
    for (int i = 0; i < 60000; ++i) {
        {
            std::lock_guard l(lock);
            if (running) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void SyntheticCamera::sound(double time, int frames, bool loud) {
    {
        std::lock_guard l(lock);
        if (!running || !audioQueue) return;
    }
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        samples[static_cast<std::size_t>(i)] =
            loud
                ? static_cast<std::int16_t>(20000 * std::sin(2 * M_PI * 440 * (time + i / 48000.0)))
                : 0;
    audioQueue->async([this, samples = std::move(samples), time] {
        audioDelegate->captureAudio(samples.data(), static_cast<int>(samples.size()), time);
    });
}

} // namespace quorvane::testing
