#pragma once
// The PipeWire stream of one screen-cast window, received from the moment
// the window is chosen: it keeps the window's latest picture and the
// pointer from the stream's metadata, and records behind the WindowStream
// interface into the same recording pipeline as other window streams.
#include "pipewire/Pictures.h"
#include "platform/Pointer.h"
#include "platform/ScreenCapture.h"
#include "platform/WindowStream.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quorvane::backends::pipewire {

class WindowFeed {
  public:
    virtual ~WindowFeed() = default;

    // Connects to `node` through the PipeWire remote `fd` (taken over) and
    // waits until the first picture arrived, at most `timeout`. Throws
    // platform::ScreenCaptureError.
    static std::shared_ptr<WindowFeed> open(int fd, std::uint32_t node,
                                            std::chrono::milliseconds timeout);

    // The window's region in the stream's first picture (the crop the stream
    // names, else the whole picture), in pixels.
    virtual Region windowRegion() const = 0;

    // The recording stream. `onStopped` runs once capture has stopped (by
    // stopCapture or by itself). At most one stream per feed.
    virtual std::unique_ptr<platform::WindowStream>
    makeStream(const platform::StreamConfiguration& configuration,
               platform::StreamDelegate& delegate, std::function<void()> onStopped) = 0;

    // Ends the stream from outside, as if it had stopped by itself with
    // `reason` (the delegate hears it unless a stop was asked for). Only
    // the first ending counts.
    virtual void endWith(const std::string& reason) = 0;

    // The pointer as the stream's cursor metadata places it over the window
    // whose frame is `frame` (points, global, origin top-left). No buttons:
    // a screen cast carries none.
    virtual std::unique_ptr<platform::PointerSource> makePointer(const platform::Rect& frame) = 0;
};

} // namespace quorvane::backends::pipewire
