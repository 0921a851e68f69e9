#pragma once
// The single-window stream on X11: one thread captures the window at a
// steady rate (absolute deadlines) into the recording pipeline, which
// paces, encodes and finishes the movie.
#include "platform/WindowStream.h"

#include <memory>

namespace quorvane::backends::x11 {

std::unique_ptr<platform::WindowStream>
makeWindowStream(const platform::ContentFilter& filter,
                 const platform::StreamConfiguration& configuration,
                 platform::StreamDelegate& delegate);

} // namespace quorvane::backends::x11
