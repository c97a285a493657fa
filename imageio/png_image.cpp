#include <spng.h>

#include <cstring>
#include <memory>
#include <vector>

#include "imageio/exif.h"
#include "imageio/photo_graphics.h"
#include "raster/errors.h"

namespace tsx {

namespace {

// Deflate expands at most 1032 to 1, and a PNG needs at least one bit a pixel:
// a header claiming more pixels than that allows for the file cannot be real,
// and is refused before a byte of it is allocated.
constexpr int64_t kMaxPixelsPerFileByte = 8 * 1032;

[[noreturn]] void raise(int code) { throw EInvalidGraphic(std::string("PNG: ") + spng_strerror(code)); }

void check(int code)
{
    if (code != 0)
        raise(code);
}

struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

}  // namespace

void compositeRgbaOnWhite(const uint8_t* rgba, uint8_t* bgr, int width)
{
    for (int x = 0; x < width; ++x, rgba += 4, bgr += 3) {
        const unsigned a = rgba[3];
        if (a == 255) {
            bgr[0] = rgba[2];
            bgr[1] = rgba[1];
            bgr[2] = rgba[0];
            continue;
        }
        // c·a + 255·(1 − a), rounded to nearest
        const unsigned white = 255 * (255 - a);
        bgr[0] = uint8_t((rgba[2] * a + white + 127) / 255);
        bgr[1] = uint8_t((rgba[1] * a + white + 127) / 255);
        bgr[2] = uint8_t((rgba[0] * a + white + 127) / 255);
    }
}

void TPNGGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    std::unique_ptr<spng_ctx, ContextFree> ctx(spng_ctx_new(0));
    if (!ctx)
        throw EOutOfResources("PNG: out of memory");
    check(spng_set_png_buffer(ctx.get(), data, size));
    // ancillary chunks are small; a forged length must not reserve gigabytes
    check(spng_set_chunk_limits(ctx.get(), size_t(64) << 20, size_t(64) << 20));
    spng_ihdr ihdr {};
    check(spng_get_ihdr(ctx.get(), &ihdr));
    const int64_t pixels = int64_t(ihdr.width) * ihdr.height;
    if (pixels > kMaxPicturePixels || pixels > kMaxPixelsPerFileByte * int64_t(size))
        raise(SPNG_EWIDTH);

    // 16-bit samples are read as they are and keep their high byte below
    const bool wide = ihdr.bit_depth == 16;
    const int format = wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    size_t imageBytes = 0;
    check(spng_decoded_image_size(ctx.get(), format, &imageBytes));
    std::vector<uint8_t> image(imageBytes);
    check(spng_decode_image(ctx.get(), image.data(), image.size(), format, SPNG_DECODE_TRNS));

    int orientation = 1;
    spng_exif exif {};
    if (spng_get_exif(ctx.get(), &exif) == 0 && exif.data)
        orientation = exifOrientation({reinterpret_cast<const uint8_t*>(exif.data), exif.length});

    const int w = int(ihdr.width), h = int(ihdr.height);
    TDIB result;
    result.Allocate(w, h, 24);
    std::vector<uint8_t> row(size_t(w) * 4);
    const size_t stride = imageBytes / size_t(h);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = image.data() + size_t(y) * stride;
        if (wide) {
            // RGBA16 is in host order; the high byte of each sample is kept
            for (size_t i = 0; i < row.size(); ++i) {
                uint16_t sample;
                std::memcpy(&sample, src + 2 * i, 2);
                row[i] = uint8_t(sample >> 8);
            }
            src = row.data();
        }
        compositeRgbaOnWhite(src, result.RowPointer(y), w);
    }
    dib_ = result;
    orientation_ = orientation;
}

}  // namespace tsx
