#include "pipewire/WindowFeed.h"

#include "pipewire/DmaBufMapping.h"
#include "pipewire/SpaParams.h"
#include "platform/HostClock.h"
#include "platform/MovieWriter.h"
#include "recording/MoviePipeline.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::backends::pipewire {
namespace {

using platform::FrameStatus;
using platform::ScreenCaptureError;

// How long to wait for the first picture before asking for it again.
constexpr std::chrono::seconds kNudgeAfter{2};
// How long the desktop's word that it stopped the cast may trail the end of
// the window's stream.
constexpr double kDesktopWordSeconds = 1.0;

std::optional<PixelOrder> orderOf(std::uint32_t format) {
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA:
        return PixelOrder::bgra;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA:
        return PixelOrder::rgba;
    default:
        return std::nullopt;
    }
}

// The pointer drawn over a queued picture by the encoding thread.
class CursorOverlay final : public recording::Overlay {
  public:
    CursorOverlay(std::shared_ptr<const CursorImage> image, int x, int y)
        : image_(std::move(image)), x_(x), y_(y) {}
    recording::PixelArea area(int, int) const override {
        return {x_ - image_->hotX, y_ - image_->hotY, image_->width, image_->height};
    }
    void draw(std::uint8_t* pixels, int width, int height, int) const override {
        drawCursor(pixels, width, height, *image_, x_, y_);
    }

  private:
    std::shared_ptr<const CursorImage> image_;
    int x_;
    int y_;
};

class Feed;

class FeedPointer final : public platform::PointerSource {
  public:
    FeedPointer(std::shared_ptr<Feed> feed, const platform::Rect& frame)
        : feed_(std::move(feed)), frame_(frame) {}
    double now() override { return platform::hostTimeNow(); }
    platform::Point mouseLocation() override;
    unsigned pressedMouseButtons() override { return 0; }
    double mainDisplayHeight() override { return frame_.y + frame_.height; }

  private:
    std::shared_ptr<Feed> feed_;
    const platform::Rect frame_;
};

class Feed final : public WindowFeed, public std::enable_shared_from_this<Feed> {
  public:
    Feed() {
        pw_init(nullptr, nullptr);
        loop_ = pw_thread_loop_new("quorvane-pipewire", nullptr);
        if (!loop_) throw ScreenCaptureError("Quorvane cannot start PipeWire.");
        context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
        if (!context_) throw ScreenCaptureError("Quorvane cannot start PipeWire.");
    }

    ~Feed() override {
        if (loop_) pw_thread_loop_stop(loop_);
        if (stream_) spa_hook_remove(&streamListener_);
        if (core_) spa_hook_remove(&coreListener_);
        if (registry_) {
            spa_hook_remove(&registryListener_);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
        }
        pipeline_.reset();
        if (timer_) pw_loop_destroy_source(pw_thread_loop_get_loop(loop_), timer_);
        if (goneTimer_) pw_loop_destroy_source(pw_thread_loop_get_loop(loop_), goneTimer_);
        if (stream_) pw_stream_destroy(stream_);
        if (core_) pw_core_disconnect(core_);
        if (context_) pw_context_destroy(context_);
        if (loop_) pw_thread_loop_destroy(loop_);
    }

    void connect(int fd, std::uint32_t node, std::chrono::milliseconds timeout) {
        if (pw_thread_loop_start(loop_) < 0) {
            ::close(fd);
            throw ScreenCaptureError("Quorvane cannot start PipeWire.");
        }
        pw_thread_loop_lock(loop_);
        core_ = pw_context_connect_fd(context_, fd, nullptr, 0);
        if (!core_) {
            pw_thread_loop_unlock(loop_);
            throw ScreenCaptureError("Quorvane cannot reach the screen cast through PipeWire.");
        }
        static const pw_core_events coreEvents = [] {
            pw_core_events e{};
            e.version = PW_VERSION_CORE_EVENTS;
            e.error = [](void* self, std::uint32_t id, int, int res, const char* message) {
                if (id == PW_ID_CORE && res == -EPIPE)
                    static_cast<Feed*>(self)->end("Quorvane lost the connection to PipeWire.");
                (void)message;
            };
            return e;
        }();
        pw_core_add_listener(core_, &coreListener_, &coreEvents, this);

        // The compositor removes the window's node when the window goes;
        // the stream itself only pauses then.
        node_ = node;
        registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
        if (registry_) {
            static const pw_registry_events registryEvents = [] {
                pw_registry_events e{};
                e.version = PW_VERSION_REGISTRY_EVENTS;
                e.global_remove = [](void* self, std::uint32_t id) {
                    auto* feed = static_cast<Feed*>(self);
                    if (id == feed->node_) feed->windowGone();
                };
                return e;
            }();
            pw_registry_add_listener(registry_, &registryListener_, &registryEvents, this);
        }

        stream_ = pw_stream_new(core_, "quorvane-window",
                                pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                  "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        if (!stream_) {
            pw_thread_loop_unlock(loop_);
            throw ScreenCaptureError("Quorvane cannot open the window's screen cast stream.");
        }
        static const pw_stream_events streamEvents = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = [](void* self, pw_stream_state, pw_stream_state state,
                                 const char* error) {
                static_cast<Feed*>(self)->stateChanged(state, error);
            };
            e.param_changed = [](void* self, std::uint32_t id, const spa_pod* param) {
                static_cast<Feed*>(self)->paramChanged(id, param);
            };
            e.process = [](void* self) { static_cast<Feed*>(self)->process(); };
            return e;
        }();
        pw_stream_add_listener(stream_, &streamListener_, &streamEvents, this);
        timer_ = pw_loop_add_timer(
            pw_thread_loop_get_loop(loop_),
            [](void* self, std::uint64_t) { static_cast<Feed*>(self)->emitDue(); }, this);
        goneTimer_ = pw_loop_add_timer(
            pw_thread_loop_get_loop(loop_),
            [](void* self, std::uint64_t) {
                static_cast<Feed*>(self)->end("The recorded window was closed.");
            },
            this);

        std::uint8_t buffer[2048];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, buffer, sizeof buffer);
        const spa_pod* params[2] = {enumFormat(b, true), enumFormat(b, false)};
        const int r = pw_stream_connect(
            stream_, PW_DIRECTION_INPUT, node,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
            params, 2);
        pw_thread_loop_unlock(loop_);
        if (r < 0) throw ScreenCaptureError("Quorvane cannot connect to the window's screen cast.");

        // A compositor sends a still window's picture once, when the stream
        // starts; one lost while the buffers were being agreed on would never
        // come again. Pausing and resuming the stream asks for it anew.
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::unique_lock guard(waitLock_);
        while (!havePicture_ && !failure_) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline)
                throw ScreenCaptureError("The window's screen cast sent no picture.");
            const auto wait =
                std::min<std::chrono::steady_clock::duration>(deadline - now, kNudgeAfter);
            if (firstPicture_.wait_for(guard, wait, [&] { return havePicture_ || failure_; }))
                break;
            guard.unlock();
            pw_thread_loop_lock(loop_);
            pw_stream_set_active(stream_, false);
            pw_stream_set_active(stream_, true);
            pw_thread_loop_unlock(loop_);
            guard.lock();
        }
        if (!havePicture_) throw ScreenCaptureError(*failure_);
    }

    Region windowRegion() const override {
        std::lock_guard guard(waitLock_);
        return firstRegion_;
    }

    std::unique_ptr<platform::WindowStream>
    makeStream(const platform::StreamConfiguration& configuration,
               platform::StreamDelegate& delegate, std::function<void()> onStopped) override;

    std::unique_ptr<platform::PointerSource> makePointer(const platform::Rect& frame) override {
        return std::make_unique<FeedPointer>(shared_from_this(), frame);
    }

    // Where the pointer was last seen, from the window's top-left, and
    // whether it is over the window now.
    std::pair<platform::Point, bool> pointerInWindow() {
        std::lock_guard guard(pointerLock_);
        return {pointer_, pointerOver_};
    }

    // --- the recording (WindowStream) side --------------------------------

    void configure(const platform::StreamConfiguration& configuration,
                   platform::StreamDelegate& delegate, std::function<void()> onStopped) {
        config_ = configuration;
        delegate_ = &delegate;
        onStopped_ = std::move(onStopped);
        interval_ = static_cast<double>(configuration.frameIntervalValue) /
                    std::max(configuration.frameIntervalScale, 1);
        // The pictures waiting, the one being encoded, the newest one kept
        // for the pointer, and one being filled: a new picture always finds
        // a slot.
        slots_.resize(static_cast<std::size_t>(configuration.queueDepth + 3));
    }

    void addStreamOutput(platform::StreamOutput& output, runtime::Queue& queue) {
        output_ = &output;
        outputQueue_ = &queue;
    }

    void addRecordingOutput(const platform::RecordingOutputConfiguration& configuration,
                            platform::RecordingOutputDelegate& delegate) {
        recording::PipelineSettings settings;
        settings.fps = std::max(1, static_cast<int>(std::lround(1.0 / interval_)));
        settings.depth = config_.queueDepth;
        settings.slots = static_cast<int>(slots_.size());
        std::unique_ptr<platform::MovieWriter> writer;
        try {
            writer = platform::openMovieWriter(recording::windowMovieSettings(
                configuration.outputPath, config_.width, config_.height, settings.fps));
        } catch (const platform::MovieError& e) {
            throw ScreenCaptureError("Quorvane cannot write the movie " + configuration.outputPath +
                                     ": " + e.what());
        }
        recordingDelegate_ = &delegate; // before the encoding thread starts
        auto pipeline = std::make_unique<recording::MoviePipeline>(
            std::move(writer), settings,
            [this](int slot) { return slots_[static_cast<std::size_t>(slot)].data(); },
            [this](const std::string& description) {
                recordingDelegate_->recordingOutputDidFail(description);
            });
        pw_thread_loop_lock(loop_);
        pipeline_ = std::move(pipeline);
        pw_thread_loop_unlock(loop_);
    }

    void startCapture() {
        pw_thread_loop_lock(loop_);
        const std::optional<std::string> failure = endedReason_;
        if (!failure && pipeline_) {
            recording_ = true;
            // The window as it is now opens the movie.
            if (!picture_.empty())
                keep(picture_.data(), region_.width * 4, PixelOrder::bgra,
                     Region{0, 0, region_.width, region_.height});
            picture_ = {};
            emitDue();
        }
        pw_thread_loop_unlock(loop_);
        if (failure) throw ScreenCaptureError(*failure);
    }

    void stopCapture() {
        std::lock_guard guard(stopLock_);
        if (stopped_) return;
        stopped_ = true;
        stopRequested_ = true;
        pw_thread_loop_lock(loop_);
        emitDue(true); // a change the frame rate held back still makes the movie
        recording_ = false;
        if (stream_) pw_stream_set_active(stream_, false);
        pw_thread_loop_unlock(loop_);
        finishMovie();
    }

    void endWith(const std::string& reason) override {
        pw_thread_loop_lock(loop_);
        end(reason);
        pw_thread_loop_unlock(loop_);
    }

  private:
    // The window's stream went away. A desktop that stops the cast itself
    // also takes the stream away, and its word for that may come a little
    // later: the window counts as closed only when none came meanwhile.
    void windowGone() {
        if (endedReason_ || !goneTimer_) return;
        timespec value{
            static_cast<time_t>(kDesktopWordSeconds),
            static_cast<long>((kDesktopWordSeconds - std::floor(kDesktopWordSeconds)) * 1e9)};
        pw_loop_update_timer(pw_thread_loop_get_loop(loop_), goneTimer_, &value, nullptr, false);
    }

    void stateChanged(pw_stream_state state, const char* error) {
        if (state == PW_STREAM_STATE_ERROR)
            end(std::string("The window's screen cast failed: ") +
                (error ? error : "unknown error") + ".");
        else if (state == PW_STREAM_STATE_UNCONNECTED)
            windowGone();
    }

    void paramChanged(std::uint32_t id, const spa_pod* param) {
        if (id != SPA_PARAM_Format || param == nullptr) return;
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0) return;
        const auto order = orderOf(info.format);
        if (!order) return;
        order_ = *order;
        width_ = static_cast<int>(info.size.width);
        height_ = static_cast<int>(info.size.height);
        const bool dmabuf = (info.flags & SPA_VIDEO_FLAG_MODIFIER) != 0;

        std::uint8_t buffer[1024];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, buffer, sizeof buffer);
        auto params = bufferParams(b, dmabuf);
        pw_stream_update_params(stream_, params.data(), static_cast<std::uint32_t>(params.size()));
    }

    void process() {
        bool changed = false;
        while (pw_buffer* b = pw_stream_dequeue_buffer(stream_)) {
            changed = take(*b->buffer) || changed;
            pw_stream_queue_buffer(stream_, b);
        }
        if (changed && recording_) {
            pending_ = true;
            emitDue();
        }
    }

    // Reads one buffer; returns whether what the movie shows changed.
    bool take(spa_buffer& buffer) {
        auto* header = static_cast<spa_meta_header*>(
            spa_buffer_find_meta_data(&buffer, SPA_META_Header, sizeof(spa_meta_header)));
        if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return false;

        bool changed = takeCursor(buffer) && config_.showsCursor;
        auto* crop = static_cast<spa_meta_region*>(
            spa_buffer_find_meta_data(&buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
        if (crop && spa_meta_region_is_valid(crop))
            crop_ = Region{crop->region.position.x, crop->region.position.y,
                           static_cast<int>(crop->region.size.width),
                           static_cast<int>(crop->region.size.height)};

        if (buffer.n_datas < 1 || width_ <= 0 || height_ <= 0) return changed;
        spa_data& d = buffer.datas[0];
        if (!d.chunk || d.chunk->size == 0 || (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
            return changed; // only the metadata moved
        const int stride = d.chunk->stride > 0 ? d.chunk->stride : width_ * 4;
        std::optional<DmaBufMapping> mapped;
        const std::uint8_t* base = static_cast<const std::uint8_t*>(d.data);
        if (!base && d.type == SPA_DATA_DmaBuf) {
            mapped.emplace(static_cast<int>(d.fd), d.maxsize + d.mapoffset);
            base = mapped->data() ? mapped->data() + d.mapoffset : nullptr;
        }
        if (!base) return changed;
        if (static_cast<std::size_t>(d.chunk->offset) + static_cast<std::size_t>(stride) * height_ >
            d.maxsize)
            return changed;
        const Region whole{0, 0, width_, height_};
        const Region region =
            clampRegion(crop_.width > 0 && crop_.height > 0 ? crop_ : whole, width_, height_);
        if (region.width <= 0 || region.height <= 0) return changed;
        if (recording_)
            keep(base + d.chunk->offset, stride, order_, region);
        else
            copyRegion(base + d.chunk->offset, stride, order_, region, picture_);
        region_ = region;
        if (!havePicture_) {
            std::lock_guard guard(waitLock_);
            havePicture_ = true;
            firstRegion_ = region;
            firstPicture_.notify_all();
        }
        return true;
    }

    // Reads the cursor metadata; returns whether the drawn pointer changed.
    bool takeCursor(spa_buffer& buffer) {
        auto* cursor = static_cast<spa_meta_cursor*>(
            spa_buffer_find_meta_data(&buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
        if (!cursor) return false;
        if (!spa_meta_cursor_is_valid(cursor)) {
            // The compositor names no pointer: it is not over the window.
            const bool was = cursorVisible_;
            cursorVisible_ = false;
            std::lock_guard guard(pointerLock_);
            pointerOver_ = false;
            return was;
        }
        if (cursor->bitmap_offset >= sizeof(spa_meta_cursor)) {
            auto* bitmap = SPA_PTROFF(cursor, cursor->bitmap_offset, spa_meta_bitmap);
            if (spa_meta_bitmap_is_valid(bitmap)) {
                const auto order = orderOf(bitmap->format);
                if (bitmap->size.width == 0 || bitmap->size.height == 0 || !order) {
                    cursorImage_ = std::make_shared<const CursorImage>();
                } else {
                    auto image = std::make_shared<CursorImage>(cursorFromBitmap(
                        SPA_PTROFF(bitmap, bitmap->offset, const std::uint8_t),
                        static_cast<int>(bitmap->size.width), static_cast<int>(bitmap->size.height),
                        bitmap->stride, *order));
                    image->hotX = cursor->hotspot.x;
                    image->hotY = cursor->hotspot.y;
                    cursorImage_ = std::move(image);
                }
            }
        }
        cursorX_ = cursor->position.x;
        cursorY_ = cursor->position.y;
        cursorVisible_ = cursorImage_ && cursorImage_->width > 0;
        // The position is relative to the stream's picture; the window is
        // the crop within it. Samples keep the last position over the window.
        const Region window = crop_.width > 0 ? crop_ : Region{0, 0, width_, height_};
        const int x = cursorX_ - window.x;
        const int y = cursorY_ - window.y;
        std::lock_guard guard(pointerLock_);
        pointer_ = platform::Point{static_cast<double>(x), static_cast<double>(y)};
        pointerOver_ = x >= 0 && y >= 0 && x <= window.width && y <= window.height;
        return true;
    }

    // Copies `region` of a delivered picture into a slot of its own, which
    // becomes the newest picture (the one before it is given up).
    void keep(const std::uint8_t* pixels, int stride, PixelOrder order, const Region& region) {
        // Always found: see configure().
        const auto slot = pipeline_->acquire(/*evenWhenFull=*/true);
        if (!slot) return;
        copyRegion(pixels, stride, order, region, slots_[static_cast<std::size_t>(*slot)]);
        if (newest_) pipeline_->release(*newest_);
        newest_ = *slot;
        newestRegion_ = region;
        pending_ = true;
    }

    // Queues the newest picture (with the pointer over it) now, or arms the
    // timer for when the frame rate and the encoder allow it.
    void emitDue(bool last = false) {
        if (!recording_ || !pending_ || !newest_ || !pipeline_) return;
        const double now = platform::hostTimeNow();
        const double next = pipeline_->nextPictureTime();
        if (!last && now < next) {
            armTimer(next - now);
            return;
        }
        if (!pipeline_->hasRoom()) { // the encoder is behind: try again one frame later
            armTimer(interval_);
            return;
        }
        std::shared_ptr<const recording::Overlay> overlay;
        if (config_.showsCursor && cursorVisible_)
            overlay = std::make_shared<CursorOverlay>(cursorImage_, cursorX_ - newestRegion_.x,
                                                      cursorY_ - newestRegion_.y);
        pipeline_->retain(*newest_);
        if (!pipeline_->push(*newest_, newestRegion_.width, newestRegion_.height,
                             newestRegion_.width * 4, now, std::move(overlay)))
            return; // too early even for the last one, or finished
        pending_ = false;
        deliver(FrameStatus::complete, now);
    }

    void armTimer(double seconds) {
        timespec value{static_cast<time_t>(seconds),
                       static_cast<long>((seconds - std::floor(seconds)) * 1e9)};
        if (value.tv_sec == 0 && value.tv_nsec == 0) value.tv_nsec = 1;
        pw_loop_update_timer(pw_thread_loop_get_loop(loop_), timer_, &value, nullptr, false);
    }

    void deliver(FrameStatus status, double time) {
        if (!output_ || !outputQueue_) return;
        outputQueue_->async([output = output_, status, time] {
            output->streamDidOutputFrame(platform::FrameInfo{status, time});
        });
    }

    // The stream ended by itself (on the PipeWire thread).
    void end(const std::string& reason) {
        if (endedReason_) return;
        endedReason_ = reason;
        {
            std::lock_guard guard(waitLock_);
            if (!failure_) failure_ = reason;
            firstPicture_.notify_all();
        }
        if (!recording_) return;
        recording_ = false;
        finishMovie();
        if (!stopRequested_ && delegate_) delegate_->streamDidStop(reason);
    }

    // Writes what is queued and ends the movie; only the first call does.
    void finishMovie() {
        std::lock_guard guard(finishLock_);
        if (finished_) return;
        finished_ = true;
        const double stoppedAt = platform::hostTimeNow();
        if (pipeline_) pipeline_->finish(stoppedAt);
        deliver(FrameStatus::stopped, stoppedAt);
        if (onStopped_) onStopped_();
    }

    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    spa_hook coreListener_{};
    spa_hook streamListener_{};
    pw_registry* registry_ = nullptr;
    spa_hook registryListener_{};
    std::uint32_t node_ = 0;
    spa_source* timer_ = nullptr;
    spa_source* goneTimer_ = nullptr; // armed when the window's stream went away

    // PipeWire thread (or under the loop lock).
    PixelOrder order_ = PixelOrder::bgra;
    int width_ = 0;
    int height_ = 0;
    Region crop_;
    Region region_;
    std::vector<std::uint8_t> picture_; // the window's latest picture before recording, BGRA
    std::optional<int> newest_;         // while recording: the slot of the newest picture
    Region newestRegion_;
    std::shared_ptr<const CursorImage> cursorImage_;
    int cursorX_ = 0;
    int cursorY_ = 0;
    bool cursorVisible_ = false;
    bool recording_ = false;
    bool pending_ = false; // the newest picture or the pointer changed since the last queued
    std::optional<std::string> endedReason_;

    // The first picture, waited for by connect.
    mutable std::mutex waitLock_;
    std::condition_variable firstPicture_;
    bool havePicture_ = false;
    Region firstRegion_;
    std::optional<std::string> failure_;

    std::mutex pointerLock_;
    platform::Point pointer_;
    bool pointerOver_ = false; // never seen counts as not over

    // The recording, set up before capture starts.
    platform::StreamConfiguration config_;
    double interval_ = 1.0 / 30;
    platform::StreamDelegate* delegate_ = nullptr;
    std::function<void()> onStopped_;
    platform::StreamOutput* output_ = nullptr;
    runtime::Queue* outputQueue_ = nullptr;
    platform::RecordingOutputDelegate* recordingDelegate_ = nullptr;
    std::vector<std::vector<std::uint8_t>> slots_;
    std::unique_ptr<recording::MoviePipeline> pipeline_;

    std::mutex stopLock_;
    bool stopped_ = false;
    std::atomic<bool> stopRequested_{false};
    std::mutex finishLock_;
    bool finished_ = false;
};

platform::Point FeedPointer::mouseLocation() {
    auto [p, over] = feed_->pointerInWindow();
    // A pointer that left the window (the stream then tells no position) is
    // placed just past the edge it is nearest to, so its samples and clicks
    // say "not inside" rather than repeat a place over the window.
    if (!over && p.x >= 0 && p.y >= 0 && p.x <= frame_.width && p.y <= frame_.height) {
        const double toLeft = p.x, toRight = frame_.width - p.x;
        const double toTop = p.y, toBottom = frame_.height - p.y;
        const double nearest = std::min({toLeft, toRight, toTop, toBottom});
        if (nearest == toLeft)
            p.x = -1;
        else if (nearest == toRight)
            p.x = frame_.width + 1;
        else if (nearest == toTop)
            p.y = -1;
        else
            p.y = frame_.height + 1;
    }
    // Global coordinates counted upwards from the bottom of the display.
    return platform::Point{frame_.x + p.x, mainDisplayHeight() - (frame_.y + p.y)};
}

class Stream final : public platform::WindowStream {
  public:
    explicit Stream(std::shared_ptr<Feed> feed) : feed_(std::move(feed)) {}
    ~Stream() override { stopCapture(); }
    void addStreamOutput(platform::StreamOutput& output, runtime::Queue& queue) override {
        feed_->addStreamOutput(output, queue);
    }
    void addRecordingOutput(const platform::RecordingOutputConfiguration& configuration,
                            platform::RecordingOutputDelegate& delegate) override {
        feed_->addRecordingOutput(configuration, delegate);
    }
    void startCapture() override { feed_->startCapture(); }
    void stopCapture() override { feed_->stopCapture(); }

  private:
    std::shared_ptr<Feed> feed_;
};

std::unique_ptr<platform::WindowStream>
Feed::makeStream(const platform::StreamConfiguration& configuration,
                 platform::StreamDelegate& delegate, std::function<void()> onStopped) {
    pw_thread_loop_lock(loop_);
    configure(configuration, delegate, std::move(onStopped));
    pw_thread_loop_unlock(loop_);
    return std::make_unique<Stream>(shared_from_this());
}

} // namespace

std::shared_ptr<WindowFeed> WindowFeed::open(int fd, std::uint32_t node,
                                             std::chrono::milliseconds timeout) {
    std::shared_ptr<Feed> feed;
    try {
        feed = std::make_shared<Feed>();
    } catch (...) {
        ::close(fd);
        throw;
    }
    feed->connect(fd, node, timeout);
    return feed;
}

} // namespace quorvane::backends::pipewire
