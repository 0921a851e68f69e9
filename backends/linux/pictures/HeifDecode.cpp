#include "pictures/Decoders.h"

#include <libheif/heif.h>

#include <memory>

namespace quorvane::backends::pictures {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;
namespace {

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageRelease {
    void operator()(heif_image* i) const { heif_image_release(i); }
};

} // namespace

std::optional<StoredPicture> decodeHeif(const std::string& path, int maxSide) {
    std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context) return std::nullopt;
    if (heif_context_read_from_file(context.get(), path.c_str(), nullptr).code != heif_error_Ok)
        return std::nullopt;
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return std::nullopt;
    std::unique_ptr<heif_image_handle, HandleRelease> handle(rawHandle);
    heif_image* rawImage = nullptr;
    // Default options: the file's rotation and mirroring are applied.
    if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                          nullptr)
            .code != heif_error_Ok)
        return std::nullopt;
    std::unique_ptr<heif_image, ImageRelease> image(rawImage);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const std::uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || width <= 0 || height <= 0) return std::nullopt;
    StoredPicture out;
    out.width = width;
    out.height = height;
    out.pixels = fittedPicture(plane, width, height, static_cast<std::size_t>(stride),
                               ChannelOrder::rgb, maxSide);
    return out;
}

} // namespace quorvane::backends::pictures
