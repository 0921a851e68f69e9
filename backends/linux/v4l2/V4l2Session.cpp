// The capture session of one V4L2 camera: format and rate negotiation,
// memory-mapped streaming on a thread of its own, and the optional
// microphone beside it.
#include "ffmpeg/QuietLog.h"
#include "platform/CameraDevices.h"
#include "platform/CaptureSession.h"
#include "v4l2/FrameConverter.h"
#include "v4l2/Microphone.h"
#include "v4l2/V4l2Node.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <linux/videodev2.h>
#include <mutex>
#include <poll.h>
#include <sys/mman.h>
#include <thread>
#include <utility>

namespace quorvane::backends::v4l2 {
namespace {

using namespace platform;

constexpr unsigned bufferCount = 4;
constexpr int maxOutstanding = 2;

struct Mapping {
    void* start = MAP_FAILED;
    std::size_t length = 0;
    Mapping() = default;
    Mapping(void* s, std::size_t l) : start(s), length(l) {}
    Mapping(Mapping&& other) noexcept
        : start(std::exchange(other.start, MAP_FAILED)), length(other.length) {}
    Mapping& operator=(Mapping&&) = delete;
    Mapping(const Mapping&) = delete;
    ~Mapping() {
        if (start != MAP_FAILED) ::munmap(start, length);
    }
};

bool offers30(const backends::v4l2::FrameSize& size) {
    for (double rate : size.rates)
        if (std::abs(rate - 30) < 0.5) return true;
    return size.span && size.span->first <= 30 && size.span->second >= 30;
}

// Among the formats offering one capture size: 30 frames per second first,
// then uncompressed (no decode per frame).
const backends::v4l2::FrameSize*
bestOf(const std::vector<const backends::v4l2::FrameSize*>& candidates) {
    const backends::v4l2::FrameSize* best = nullptr;
    auto score = [](const backends::v4l2::FrameSize* s) {
        return (offers30(*s) ? 2 : 0) + (backends::v4l2::isCompressed(s->pixelFormat) ? 0 : 1);
    };
    for (const auto* candidate : candidates)
        if (!best || score(candidate) > score(best)) best = candidate;
    return best;
}

double monotonicSeconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

class V4l2Session final : public CaptureSession {
  public:
    explicit V4l2Session(CaptureDevice camera) : camera_(std::move(camera)) {
        backends::ffmpeg::silenceLibraryLog();
        if (auto fd = backends::v4l2::openNode(camera_.address)) {
            for (auto& size : backends::v4l2::frameSizes(fd.get()))
                if (backends::v4l2::canConvert(size.pixelFormat)) sizes_.push_back(std::move(size));
        }
    }

    ~V4l2Session() override {
        stopRunning();
        if (fd_) {
            v4l2_requestbuffers release{};
            release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            release.memory = V4L2_MEMORY_MMAP;
            mappings_.clear();
            backends::v4l2::xioctl(fd_.get(), VIDIOC_REQBUFS, &release);
        }
    }

    bool setPreset(SessionPreset preset) override {
        std::vector<const backends::v4l2::FrameSize*> candidates;
        if (preset == SessionPreset::high) {
            // The device's largest picture.
            std::uint64_t largest = 0;
            for (const auto& size : sizes_)
                largest = std::max<std::uint64_t>(largest, std::uint64_t{size.width} * size.height);
            for (const auto& size : sizes_)
                if (largest > 0 && std::uint64_t{size.width} * size.height == largest)
                    candidates.push_back(&size);
        } else {
            const std::uint32_t width = preset == SessionPreset::size1920x1080 ? 1920 : 1280;
            const std::uint32_t height = preset == SessionPreset::size1920x1080 ? 1080 : 720;
            for (const auto& size : sizes_)
                if (size.width == width && size.height == height) candidates.push_back(&size);
        }
        const auto* best = bestOf(candidates);
        if (!best) return false;
        chosen_ = *best;
        return true;
    }

    bool addCameraInput() override {
        fd_ = backends::v4l2::openNode(camera_.address);
        if (!fd_) return false;
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (chosen_) {
            format.fmt.pix.pixelformat = chosen_->pixelFormat;
            format.fmt.pix.width = chosen_->width;
            format.fmt.pix.height = chosen_->height;
            format.fmt.pix.field = V4L2_FIELD_NONE;
            if (backends::v4l2::xioctl(fd_.get(), VIDIOC_S_FMT, &format) < 0) return false;
        } else if (backends::v4l2::xioctl(fd_.get(), VIDIOC_G_FMT, &format) < 0) {
            return false;
        }
        format_ = format.fmt.pix;
        // Buffers are claimed now: a camera another process streams from
        // refuses them here, before anything is recorded.
        v4l2_requestbuffers request{};
        request.count = bufferCount;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        if (backends::v4l2::xioctl(fd_.get(), VIDIOC_REQBUFS, &request) < 0 || request.count < 2)
            return false;
        for (unsigned i = 0; i < request.count; ++i) {
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = i;
            if (backends::v4l2::xioctl(fd_.get(), VIDIOC_QUERYBUF, &buffer) < 0) return false;
            void* start = ::mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED,
                                 fd_.get(), buffer.m.offset);
            if (start == MAP_FAILED) return false;
            mappings_.emplace_back(start, buffer.length);
        }
        return true;
    }

    bool addVideoOutput(int size, CaptureDelegate& delegate, runtime::Queue& queue) override {
        converter_ = backends::v4l2::FrameConverter::make(
            format_.pixelformat, static_cast<int>(format_.width), static_cast<int>(format_.height),
            static_cast<int>(format_.bytesperline), size);
        if (!converter_) return false;
        videoDelegate_ = &delegate;
        videoQueue_ = &queue;
        return true;
    }

    bool supportsMirroring() const override { return true; }
    void setMirrored(bool mirrored) override { mirrored_ = mirrored; }

    bool addAudio(const CaptureDevice& microphone, int sampleRate, CaptureDelegate& delegate,
                  runtime::Queue& queue) override {
        microphone_ = backends::v4l2::MicrophoneCapture::open(microphone, sampleRate);
        if (!microphone_) return false;
        audioDelegate_ = &delegate;
        audioQueue_ = &queue;
        return true;
    }

    void removeAudio() override {
        std::lock_guard lock(runLock_);
        microphone_.reset();
        audioDelegate_ = nullptr;
        audioQueue_ = nullptr;
    }

    std::vector<FrameRateRange> frameRateRanges() override {
        std::vector<FrameRateRange> ranges;
        if (!chosen_) return ranges;
        for (double rate : chosen_->rates)
            ranges.push_back({rate, rate});
        if (chosen_->span) ranges.push_back({chosen_->span->first, chosen_->span->second});
        return ranges;
    }

    bool setFrameDuration(double seconds) override {
        if (!fd_ || seconds <= 0) return false;
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe.numerator = 1;
        parm.parm.capture.timeperframe.denominator =
            static_cast<std::uint32_t>(std::lround(1 / seconds));
        return backends::v4l2::xioctl(fd_.get(), VIDIOC_S_PARM, &parm) == 0 &&
               (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME);
    }

    void startRunning() override {
        std::lock_guard lock(runLock_);
        if (stopped_ || running_ || !fd_ || !videoDelegate_) return;
        running_ = true;
        for (unsigned i = 0; i < mappings_.size(); ++i) {
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = i;
            if (backends::v4l2::xioctl(fd_.get(), VIDIOC_QBUF, &buffer) < 0) return report(errno);
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (backends::v4l2::xioctl(fd_.get(), VIDIOC_STREAMON, &type) < 0) return report(errno);
        streaming_ = true;
        thread_ = std::thread([this] { captureLoop(); });
        if (microphone_) {
            microphone_->start([delegate = audioDelegate_, queue = audioQueue_](
                                   std::vector<std::int16_t> samples, double time) {
                queue->async([delegate, samples = std::move(samples), time] {
                    delegate->captureAudio(samples.data(), static_cast<int>(samples.size()), time);
                });
            });
        }
    }

    void stopRunning() override {
        std::lock_guard lock(runLock_);
        stopped_ = true;
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
        if (microphone_) microphone_->stop();
        if (streaming_) {
            int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            backends::v4l2::xioctl(fd_.get(), VIDIOC_STREAMOFF, &type);
            streaming_ = false;
        }
    }

    std::optional<double> synchronizationClockNow() const override { return hostTimeNow(); }

    void setObserver(CaptureObserver observer) override { observer_ = std::move(observer); }

  private:
    // Tells the observer once what ended the capture.
    void report(int error) {
        if (reported_.exchange(true) || !observer_) return;
        if (error == ENODEV || error == ENXIO)
            observer_(CaptureNotice::deviceDisconnected, {});
        else if (error == EBUSY)
            observer_(CaptureNotice::interrupted, {});
        else
            observer_(CaptureNotice::runtimeError, std::strerror(error));
    }

    void captureLoop() {
        while (!stopping_) {
            pollfd ready{fd_.get(), POLLIN, 0};
            const int polled = ::poll(&ready, 1, 200);
            if (polled < 0 && errno != EINTR) return report(errno);
            if (polled <= 0) continue;
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            if (backends::v4l2::xioctl(fd_.get(), VIDIOC_DQBUF, &buffer) < 0) {
                if (errno == EAGAIN) continue;
                return report(errno);
            }
            deliver(buffer);
            if (backends::v4l2::xioctl(fd_.get(), VIDIOC_QBUF, &buffer) < 0) return report(errno);
        }
    }

    void deliver(const v4l2_buffer& buffer) {
        if (buffer.flags & V4L2_BUF_FLAG_ERROR || buffer.index >= mappings_.size()) return;
        // A driver that claims more than the buffer holds sent no picture
        // that can be trusted; reading on would leave the mapping.
        if (buffer.bytesused > mappings_[buffer.index].length) return;
        const double time = pictureTime(buffer);
        // Late pictures are discarded: capture never waits for the encoder.
        // One picture may wait while another is written, which absorbs a
        // slow moment without building a backlog.
        if (picturesOutstanding_.load() >= maxOutstanding) return;
        auto picture = std::make_shared<backends::v4l2::SquarePicture>();
        const auto* data = static_cast<const std::uint8_t*>(mappings_[buffer.index].start);
        if (!converter_->convert(data, buffer.bytesused, mirrored_, *picture)) return;
        ++picturesOutstanding_;
        videoQueue_->async([this, picture, time] {
            videoDelegate_->captureVideo(picture->frame(), time);
            --picturesOutstanding_;
        });
    }

    // The driver's time of the picture when it is on the host clock, else
    // the time it arrived. A monotonic stamp from the future, or older than
    // a picture ever waits in the driver, is not on that clock (a glitch of
    // the driver's clock recovery, a loopback device that copies its
    // producer's stamps); sound is dated on the host clock, so such a
    // picture is dated by its arrival.
    static double pictureTime(const v4l2_buffer& buffer) {
        const double now = hostTimeNow();
        if ((buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) != V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC)
            return now;
        const double stamp = monotonicSeconds(buffer.timestamp);
        constexpr double oldest = 1.0;    // seconds
        constexpr double earliest = 0.01; // rounding of the driver's stamp
        if (!(stamp <= now + earliest && stamp >= now - oldest)) return now;
        return stamp;
    }

    CaptureDevice camera_;
    std::vector<backends::v4l2::FrameSize> sizes_;
    std::optional<backends::v4l2::FrameSize> chosen_;
    io::UniqueFd fd_;
    v4l2_pix_format format_{};
    std::vector<Mapping> mappings_;
    std::unique_ptr<backends::v4l2::FrameConverter> converter_;
    bool mirrored_ = false;
    CaptureDelegate* videoDelegate_ = nullptr;
    runtime::Queue* videoQueue_ = nullptr;
    std::unique_ptr<backends::v4l2::MicrophoneCapture> microphone_;
    CaptureDelegate* audioDelegate_ = nullptr;
    runtime::Queue* audioQueue_ = nullptr;
    CaptureObserver observer_;
    std::mutex runLock_;
    bool stopped_ = false;
    bool running_ = false;
    bool streaming_ = false;
    std::atomic<bool> stopping_{false};
    std::atomic<int> picturesOutstanding_{0};
    std::atomic<bool> reported_{false};
    std::thread thread_;
};

} // namespace
} // namespace quorvane::backends::v4l2

namespace quorvane::platform {

using namespace backends::v4l2;

std::unique_ptr<CaptureSession> makeCaptureSession(const CaptureDevice& camera) {
    return std::make_unique<V4l2Session>(camera);
}

} // namespace quorvane::platform
