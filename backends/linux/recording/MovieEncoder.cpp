#include "recording/MovieEncoder.h"

namespace quorvane::backends::recording {

MovieEncoder::MovieEncoder(std::unique_ptr<platform::MovieWriter> writer, FrameQueue& queue,
                           Pixels pixels, Failure onFailure)
    : writer_(std::move(writer)), queue_(queue), pixels_(std::move(pixels)),
      onFailure_(std::move(onFailure)) {
    thread_ = std::thread([this] { run(); });
}

MovieEncoder::~MovieEncoder() {
    queue_.close();
    if (thread_.joinable()) thread_.join();
}

void MovieEncoder::run() {
    while (auto frame = queue_.pop()) {
        if (frame->refresh) {
            if (!failed_) {
                try {
                    writer_->refresh(frame->time);
                } catch (const platform::MovieError& e) {
                    failed_ = true;
                    onFailure_(e.what());
                }
            }
            continue;
        }
        if (!failed_) {
            platform::VideoFrame picture;
            picture.format = platform::PixelFormat::BGRA;
            picture.width = frame->width;
            picture.height = frame->height;
            picture.data[0] = pixels_(frame->slot);
            picture.stride[0] = frame->stride;
            try {
                writer_->writeVideo(picture, frame->time);
            } catch (const platform::MovieError& e) {
                failed_ = true;
                onFailure_(e.what());
            }
        }
        queue_.release(frame->slot);
    }
}

void MovieEncoder::finish(double endTime) {
    if (finished_) return;
    finished_ = true;
    queue_.close();
    if (thread_.joinable()) thread_.join();
    if (failed_) return;
    if (writer_->framesWritten() == 0) {
        // A movie without a picture is no recording.
        failed_ = true;
        onFailure_("The window sent no picture.");
        return;
    }
    try {
        writer_->finish(endTime);
    } catch (const platform::MovieError& e) {
        failed_ = true;
        onFailure_(e.what());
    }
}

} // namespace quorvane::backends::recording
