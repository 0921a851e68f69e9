#include "pipewire/SpaParams.h"

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/buffers.h>
#include <spa/param/param.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <cstddef>
#include <cstdint>

namespace quorvane::backends::pipewire {
namespace {

constexpr std::uint64_t kLinearModifier = 0; // DRM_FORMAT_MOD_LINEAR
constexpr int kLargestCursor = 512;

constexpr std::size_t cursorMetaSize(int side) {
    return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) +
           static_cast<std::size_t>(side) * static_cast<std::size_t>(side) * 4;
}

// A metadata of `type` whose size may lie between `least` and `most`
// (`size` preferred): compositors fix their own sizes.
const spa_pod* metaParam(spa_pod_builder& b, std::uint32_t type, std::size_t size,
                         std::size_t least, std::size_t most) {
    spa_pod_frame object;
    spa_pod_frame choice;
    spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
    spa_pod_builder_prop(&b, SPA_PARAM_META_type, 0);
    spa_pod_builder_id(&b, type);
    spa_pod_builder_prop(&b, SPA_PARAM_META_size, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
    for (std::size_t value : {size, least, most})
        spa_pod_builder_int(&b, static_cast<std::int32_t>(value));
    spa_pod_builder_pop(&b, &choice);
    return static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object));
}

const spa_pod* buffersParam(spa_pod_builder& b, bool dmabuf) {
    spa_pod_frame object;
    spa_pod_frame choice;
    spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
    spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_buffers, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_int(&b, 8);
    spa_pod_builder_int(&b, 2);
    spa_pod_builder_int(&b, 16);
    spa_pod_builder_pop(&b, &choice);
    spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_dataType, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Flags, 0);
    spa_pod_builder_int(&b, dmabuf ? (1 << SPA_DATA_DmaBuf)
                                   : ((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd)));
    spa_pod_builder_pop(&b, &choice);
    return static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object));
}

} // namespace

const spa_pod* enumFormat(spa_pod_builder& b, bool dmabuf) {
    spa_pod_frame object;
    spa_pod_frame choice;
    spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_prop(&b, SPA_FORMAT_mediaType, 0);
    spa_pod_builder_id(&b, SPA_MEDIA_TYPE_video);
    spa_pod_builder_prop(&b, SPA_FORMAT_mediaSubtype, 0);
    spa_pod_builder_id(&b, SPA_MEDIA_SUBTYPE_raw);
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Enum, 0);
    for (std::uint32_t f : {SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                            SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA})
        spa_pod_builder_id(&b, f);
    spa_pod_builder_pop(&b, &choice);
    if (dmabuf) {
        spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_modifier,
                             SPA_POD_PROP_FLAG_MANDATORY | SPA_POD_PROP_FLAG_DONT_FIXATE);
        spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Enum, 0);
        spa_pod_builder_long(&b, static_cast<std::int64_t>(kLinearModifier));
        spa_pod_builder_long(&b, static_cast<std::int64_t>(kLinearModifier));
        spa_pod_builder_pop(&b, &choice);
    }
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_size, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_rectangle(&b, 1280, 720);
    spa_pod_builder_rectangle(&b, 1, 1);
    spa_pod_builder_rectangle(&b, 16384, 16384);
    spa_pod_builder_pop(&b, &choice);
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_framerate, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_fraction(&b, 60, 1);
    spa_pod_builder_fraction(&b, 0, 1);
    spa_pod_builder_fraction(&b, 360, 1);
    spa_pod_builder_pop(&b, &choice);
    return static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object));
}

std::array<const spa_pod*, 4> bufferParams(spa_pod_builder& b, bool dmabuf) {
    return {
        buffersParam(b, dmabuf),
        metaParam(b, SPA_META_Header, sizeof(spa_meta_header), sizeof(spa_meta_header),
                  sizeof(spa_meta_header)),
        metaParam(b, SPA_META_VideoCrop, sizeof(spa_meta_region), sizeof(spa_meta_region),
                  sizeof(spa_meta_region)),
        metaParam(b, SPA_META_Cursor, cursorMetaSize(64), cursorMetaSize(1),
                  cursorMetaSize(kLargestCursor)),
    };
}

} // namespace quorvane::backends::pipewire
