#pragma once
// The SPA parameters of a window's screen-cast stream: the formats offered
// when it connects, and the buffers and metadata asked for once a format is
// agreed on.
#include <array>

struct spa_pod;
struct spa_pod_builder;

namespace quorvane::backends::pipewire {

// The formats we take: 4-byte pixels in either byte order, any size, any
// rate; with `dmabuf`, only as linear DMA-BUFs (which can be mapped and read
// like shared memory), else as shared memory.
const spa_pod* enumFormat(spa_pod_builder& b, bool dmabuf);

// The buffers (as DMA-BUFs with `dmabuf`, else shared memory) and the
// metadata wanted with each: header, crop region and cursor.
std::array<const spa_pod*, 4> bufferParams(spa_pod_builder& b, bool dmabuf);

} // namespace quorvane::backends::pipewire
