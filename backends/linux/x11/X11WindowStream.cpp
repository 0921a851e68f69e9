#include "x11/X11WindowStream.h"

#include "io/UniqueFd.h"
#include "platform/HostClock.h"
#include "recording/MoviePipeline.h"
#include "x11/ShmSegment.h"
#include "x11/WindowSource.h"
#include "x11/XcbConnection.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace quorvane::backends::x11 {
namespace {

using platform::FrameStatus;
using recording::MoviePipeline;

// An eventfd that wakes the capture thread when a stop is asked for.
class Wakeup {
  public:
    Wakeup() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (!fd_) throw platform::ScreenCaptureError("Quorvane cannot start its capture thread.");
    }
    void signal() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(fd_.get(), &one, sizeof one);
    }
    int fd() const { return fd_.get(); }

  private:
    io::UniqueFd fd_;
};

class Stream final : public platform::WindowStream {
  public:
    Stream(const platform::ContentFilter& filter, const platform::StreamConfiguration& config,
           platform::StreamDelegate& delegate)
        : window_(filter.window.windowID), config_(config), delegate_(delegate),
          slots_(static_cast<std::size_t>(config.queueDepth + 2)) {}

    ~Stream() override {
        stopCapture();
        pipeline_.reset();
        slots_.clear();
        source_.reset();
    }

    void addStreamOutput(platform::StreamOutput& output, runtime::Queue& queue) override {
        output_ = &output;
        outputQueue_ = &queue;
    }

    void addRecordingOutput(const platform::RecordingOutputConfiguration& configuration,
                            platform::RecordingOutputDelegate& delegate) override {
        recording::PipelineSettings pipeline;
        pipeline.fps = config_.frameIntervalScale / std::max(1, config_.frameIntervalValue);
        pipeline.depth = config_.queueDepth;
        pipeline.slots = static_cast<int>(slots_.size());
        std::unique_ptr<platform::MovieWriter> writer;
        try {
            writer = platform::openMovieWriter(recording::windowMovieSettings(
                configuration.outputPath, config_.width, config_.height, pipeline.fps));
        } catch (const platform::MovieError& e) {
            throw platform::ScreenCaptureError("Quorvane cannot write the movie " +
                                               configuration.outputPath + ": " + e.what());
        }
        recordingDelegate_ = &delegate;
        outputPath_ = configuration.outputPath;
        pipeline_ = std::make_unique<MoviePipeline>(
            std::move(writer), pipeline,
            [this](int slot) { return slots_[static_cast<std::size_t>(slot)]->data(); },
            [this](const std::string& description) {
                recordingDelegate_->recordingOutputDidFail(description);
            });
    }

    void startCapture() override {
        try {
            connection_ = XcbConnection::open();
            if (!connection_)
                throw platform::ScreenCaptureError("Quorvane cannot open the X display.");
            source_ = std::make_unique<WindowSource>(*connection_, window_, config_.showsCursor);
            // The first picture before the recording counts as started, so that
            // even a stop that comes at once leaves a movie with the window in it.
            source_->handleEvents(platform::hostTimeNow());
            if (!tick(platform::hostTimeNow()))
                throw platform::ScreenCaptureError(
                    "Quorvane could not take a picture of the window.");
        } catch (...) {
            // A recording that never started leaves no movie behind.
            pipeline_.reset();
            if (!outputPath_.empty()) ::unlink(outputPath_.c_str());
            throw;
        }
        thread_ = std::thread([this] { run(); });
    }

    void stopCapture() override {
        std::lock_guard guard(stopLock_);
        if (!thread_.joinable()) return;
        stopRequested_ = true;
        wakeup_.signal();
        thread_.join();
    }

  private:
    // Makes slot `i` large enough for the window's current size.
    void ensureSlot(int i) {
        const std::size_t bytes = static_cast<std::size_t>(std::max(source_->width(), 1)) *
                                  static_cast<std::size_t>(std::max(source_->height(), 1)) * 4;
        auto& slot = slots_[static_cast<std::size_t>(i)];
        if (!slot || slot->size() < bytes) {
            slot.reset();
            slot = std::make_unique<ShmSegment>(connection_->get(), bytes);
        }
    }

    void deliver(FrameStatus status, double time) {
        if (!output_ || !outputQueue_) return;
        outputQueue_->async([output = output_, status, time] {
            output->streamDidOutputFrame(platform::FrameInfo{status, time});
        });
    }

    // Takes a picture when the window changed and the frame rate allows
    // one. True when one was queued.
    bool tick(double now) {
        if (!source_->changed()) {
            deliver(FrameStatus::idle, now);
            return false;
        }
        if (!pipeline_ || now < pipeline_->nextPictureTime()) return false;
        const auto slot = pipeline_->acquire();
        if (!slot) return false; // the encoder is behind: the change is taken next time
        try {
            ensureSlot(*slot);
        } catch (const platform::ScreenCaptureError&) {
            pipeline_->release(*slot);
            return false;
        }
        const double taken = platform::hostTimeNow();
        if (!source_->capture(*slots_[static_cast<std::size_t>(*slot)])) {
            pipeline_->release(*slot);
            deliver(FrameStatus::idle, now);
            return false;
        }
        if (!pipeline_->push(*slot, source_->width(), source_->height(), source_->width() * 4,
                             taken))
            return false;
        deliver(FrameStatus::complete, taken);
        return true;
    }

    void run() {
        const double interval =
            static_cast<double>(config_.frameIntervalValue) / config_.frameIntervalScale;
        // Ticks on the movie's frame grid, which the first picture started.
        const double start = pipeline_ ? pipeline_->firstPicture().value_or(platform::hostTimeNow())
                                       : platform::hostTimeNow();
        std::int64_t n = 1;
        std::optional<std::string> reason;
        const int xfd = xcb_get_file_descriptor(connection_->get());
        while (!stopRequested_) {
            const double deadline = start + static_cast<double>(n) * interval;
            double now = platform::hostTimeNow();
            if (now < deadline) {
                const double wait = deadline - now;
                timespec timeout{static_cast<time_t>(wait),
                                 static_cast<long>((wait - std::floor(wait)) * 1e9)};
                pollfd fds[2] = {{xfd, POLLIN, 0}, {wakeup_.fd(), POLLIN, 0}};
                const int r = ::ppoll(fds, 2, &timeout, nullptr);
                if (r < 0 && errno != EINTR) break;
                now = platform::hostTimeNow();
            }
            source_->handleEvents(now);
            if ((reason = source_->ended(now))) break;
            if (now < deadline) continue;
            tick(now);
            // Absolute deadlines: a late tick does not shift the ones after
            // it, and ticks missed entirely are skipped.
            n = std::max(n + 1,
                         static_cast<std::int64_t>(std::floor((now - start) / interval)) + 1);
        }
        const double stoppedAt = platform::hostTimeNow();
        if (pipeline_) pipeline_->finish(stoppedAt);
        deliver(FrameStatus::stopped, stoppedAt);
        if (reason && !stopRequested_) delegate_.streamDidStop(*reason);
    }

    const xcb_window_t window_;
    const platform::StreamConfiguration config_;
    platform::StreamDelegate& delegate_;
    platform::StreamOutput* output_ = nullptr;
    runtime::Queue* outputQueue_ = nullptr;
    platform::RecordingOutputDelegate* recordingDelegate_ = nullptr;
    std::string outputPath_; // the movie, removed again when the capture cannot start

    std::unique_ptr<XcbConnection> connection_;
    std::unique_ptr<WindowSource> source_;
    std::vector<std::unique_ptr<ShmSegment>> slots_;
    std::unique_ptr<MoviePipeline> pipeline_;

    Wakeup wakeup_;
    std::atomic<bool> stopRequested_{false};
    std::mutex stopLock_;
    std::thread thread_;
};

} // namespace

std::unique_ptr<platform::WindowStream>
makeWindowStream(const platform::ContentFilter& filter,
                 const platform::StreamConfiguration& configuration,
                 platform::StreamDelegate& delegate) {
    return std::make_unique<Stream>(filter, configuration, delegate);
}

} // namespace quorvane::backends::x11
