#include <libheif/heif.h>

#include <memory>
#include <string>

#include "imageio/photo_graphics.h"
#include "raster/errors.h"

namespace tsx {

namespace {

constexpr int64_t kUncheckedRasterBytes = int64_t(8) << 20;
constexpr int64_t kMaxExpansion = 4096;

void check(const heif_error& error)
{
    if (error.code != heif_error_Ok)
        throw EInvalidGraphic(std::string("HEIF: ") + (error.message ? error.message : "unknown error"));
}

[[noreturn]] void raise(const char* text) { throw EInvalidGraphic(std::string("HEIF: ") + text); }

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageRelease {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

}  // namespace

void THEIFGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    if (heif_check_filetype(data, int(std::min<size_t>(size, 1 << 20))) == heif_filetype_no)
        raise("not a HEIF file");
    // registers the library's decoders, once for the whole run
    static const bool initialised = [] { return heif_init(nullptr).code == heif_error_Ok; }();
    if (!initialised)
        raise("the library could not start");
    std::unique_ptr<heif_context, ContextFree> ctx(heif_context_alloc());
    if (!ctx)
        throw EOutOfResources("HEIF: out of memory");
    heif_context_set_maximum_image_size_limit(ctx.get(), 1 << 16);
    check(heif_context_read_from_memory_without_copy(ctx.get(), data, size, nullptr));
    heif_image_handle* rawHandle = nullptr;
    check(heif_context_get_primary_image_handle(ctx.get(), &rawHandle));
    std::unique_ptr<heif_image_handle, HandleRelease> handle(rawHandle);

    const int64_t w = heif_image_handle_get_width(handle.get());
    const int64_t h = heif_image_handle_get_height(handle.get());
    if (w <= 0 || h <= 0)
        raise("the picture has no size");
    if (w * h > kMaxPicturePixels
        || (w * 3 + 3) / 4 * 4 * h > std::max(kUncheckedRasterBytes, kMaxExpansion * int64_t(size)))
        raise("picture too large");

    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    // the file's own rotation, mirroring and crop are applied by the library
    options->ignore_transformations = 0;
    options->convert_hdr_to_8bit = 1;
    heif_image* rawImage = nullptr;
    check(heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGBA,
                            options.get()));
    std::unique_ptr<heif_image, ImageRelease> image(rawImage);

    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int iw = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int ih = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || iw <= 0 || ih <= 0 || stride < iw * 4)
        raise("the decoded picture is not usable");
    if (heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
        raise("unsupported bit depth");
    TDIB result;
    result.Allocate(iw, ih, 24);
    for (int y = 0; y < ih; ++y)
        compositeRgbaOnWhite(plane + size_t(y) * size_t(stride), result.RowPointer(y), iw);
    dib_ = result;
}

}  // namespace tsx
