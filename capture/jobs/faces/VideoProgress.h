#pragma once
// Progress of the faces job through a video, told by the pictures it asks
// for: a video source that passes everything on to the real one and reports
// the share of the sampled span reached after each picture.
#include "platform/VideoFrames.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace quorvane::jobs::faces {

using ShareDone = std::function<void(double share)>;

// `video`, reporting to `onShare` as pictures every `every` seconds, at most
// `maxFrames` of them, are taken from it.
std::unique_ptr<platform::VideoSource>
reportingProgress(std::unique_ptr<platform::VideoSource> video, double every,
                  std::int64_t maxFrames, ShareDone onShare);

} // namespace quorvane::jobs::faces
