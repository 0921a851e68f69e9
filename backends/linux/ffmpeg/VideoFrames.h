#pragma once
// FFmpeg's reader of video files (no FFmpeg headers here).
#include "platform/VideoFrames.h"

#include <memory>
#include <string>

namespace quorvane::backends::ffmpeg {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

enum class FrameSeeking {
    // One decoder walks forward, seeking only when the next key frame lies
    // before the asked time (or when asked to go back).
    forwardWalk,
    // Seek to the key frame before every asked time (for comparison).
    everySample,
};

// Opens the file and finds its streams. Throws VideoError.
std::unique_ptr<VideoSource> openVideoFile(const std::string& path, FrameSeeking seeking);

} // namespace quorvane::backends::ffmpeg
