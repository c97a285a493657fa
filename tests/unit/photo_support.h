// Small photo-format files made in memory with the formats' own encoders, and
// Exif blocks, for the photo readers' tests and the benchmarks.
#pragma once

#include <spng.h>
#include <webp/encode.h>
#include <libheif/heif.h>
#include <jpeglib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace tsx::photos {

using Bytes = std::vector<uint8_t>;

inline void put32le(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
inline void put24le(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 3; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

/// A TIFF-structured Exif block whose IFD0 holds one orientation entry.
inline Bytes exifBlock(int orientation, bool bigEndian = false, bool withPrefix = false)
{
    Bytes b;
    if (withPrefix)
        b = {'E', 'x', 'i', 'f', 0, 0};
    auto u16 = [&](uint16_t v) {
        if (bigEndian) { b.push_back(uint8_t(v >> 8)); b.push_back(uint8_t(v)); }
        else { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
    };
    auto u32 = [&](uint32_t v) {
        if (bigEndian) for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
        else for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    };
    b.push_back(bigEndian ? 'M' : 'I');
    b.push_back(bigEndian ? 'M' : 'I');
    u16(42);
    u32(8);
    u16(2);
    u16(0x010F); u16(2); u32(4); u32(0);  // a Make entry before it
    u16(0x0112); u16(3); u32(1); u16(uint16_t(orientation)); u16(0);
    u32(0);
    return b;
}

/// RGBA pixels, 4 bytes a pixel, rows top-down.
struct Rgba {
    int width = 0, height = 0;
    Bytes pixels;
    Rgba(int w, int h) : width(w), height(h), pixels(size_t(w) * size_t(h) * 4, 255) {}
    uint8_t* at(int x, int y) { return pixels.data() + (size_t(y) * size_t(width) + size_t(x)) * 4; }
};

/// A PNG of the given header with the image in the PNG's own layout.
inline Bytes encodePng(spng_ihdr ihdr, const Bytes& image, const spng_plte* plte = nullptr,
                       const Bytes* exif = nullptr)
{
    spng_ctx* enc = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(enc, SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_ihdr(enc, &ihdr);
    if (plte) {
        spng_plte copy = *plte;
        spng_set_plte(enc, &copy);
    }
    if (exif) {
        spng_exif e{exif->size(), reinterpret_cast<char*>(const_cast<uint8_t*>(exif->data()))};
        spng_set_exif(enc, &e);
    }
    int err = spng_encode_image(enc, image.data(), image.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    size_t size = 0;
    void* out = err ? nullptr : spng_get_png_buffer(enc, &size, &err);
    spng_ctx_free(enc);
    if (!out)
        throw std::runtime_error(std::string("png encode: ") + spng_strerror(err));
    Bytes bytes(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + size);
    std::free(out);
    return bytes;
}

inline Bytes rgbaPng(const Rgba& img, const Bytes* exif = nullptr)
{
    spng_ihdr ihdr{uint32_t(img.width), uint32_t(img.height), 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 0, 0, 0};
    return encodePng(ihdr, img.pixels, nullptr, exif);
}

/// A lossless (or lossy, quality > 0) still WebP.
inline Bytes webp(const Rgba& img, float quality = 0)
{
    uint8_t* out = nullptr;
    const size_t size = quality > 0
        ? WebPEncodeRGBA(img.pixels.data(), img.width, img.height, img.width * 4, quality, &out)
        : WebPEncodeLosslessRGBA(img.pixels.data(), img.width, img.height, img.width * 4, &out);
    if (!size)
        throw std::runtime_error("webp encode");
    Bytes bytes(out, out + size);
    WebPFree(out);
    return bytes;
}

// The image chunk (VP8 or VP8L, with its header) of a simple WebP file.
inline Bytes webpImageChunk(const Bytes& simple) { return Bytes(simple.begin() + 12, simple.end()); }

inline void putChunk(Bytes& b, const char* fourcc, const Bytes& payload)
{
    b.insert(b.end(), fourcc, fourcc + 4);
    put32le(b, uint32_t(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    if (payload.size() % 2)
        b.push_back(0);
}

inline Bytes riff(const Bytes& body)
{
    Bytes b = {'R', 'I', 'F', 'F'};
    put32le(b, uint32_t(body.size() + 4));
    b.insert(b.end(), {'W', 'E', 'B', 'P'});
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline Bytes vp8x(uint8_t flags, int w, int h)
{
    Bytes p = {flags, 0, 0, 0};
    put24le(p, uint32_t(w - 1));
    put24le(p, uint32_t(h - 1));
    return p;
}

/// An extended WebP: the still image and an EXIF chunk after it.
inline Bytes webpWithExif(const Rgba& img, const Bytes& exif)
{
    Bytes body;
    putChunk(body, "VP8X", vp8x(0x08, img.width, img.height));
    const Bytes chunk = webpImageChunk(webp(img));
    body.insert(body.end(), chunk.begin(), chunk.end());
    putChunk(body, "EXIF", exif);
    return riff(body);
}

/// An animation of full-canvas frames, each shown 100 ms.
inline Bytes animatedWebp(const std::vector<Rgba>& frames)
{
    Bytes body;
    putChunk(body, "VP8X", vp8x(0x02, frames[0].width, frames[0].height));
    Bytes anim;
    put32le(anim, 0xFFFFFFFF);
    anim.push_back(0);
    anim.push_back(0);
    putChunk(body, "ANIM", anim);
    for (const Rgba& f : frames) {
        Bytes frame;
        put24le(frame, 0);
        put24le(frame, 0);
        put24le(frame, uint32_t(f.width - 1));
        put24le(frame, uint32_t(f.height - 1));
        put24le(frame, 100);
        frame.push_back(0x02);  // no blending
        const Bytes chunk = webpImageChunk(webp(f));
        frame.insert(frame.end(), chunk.begin(), chunk.end());
        putChunk(body, "ANMF", frame);
    }
    return riff(body);
}

/// A HEIF (HEVC) or AVIF (AV1) file, or nothing when the library has no
/// encoder for it.
inline Bytes heif(const Rgba& img, heif_compression_format format, bool alpha = false)
{
    heif_init(nullptr);
    if (!heif_have_encoder_for_format(format))
        return {};
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(ctx, format, &encoder);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_image* image = nullptr;
    heif_image_create(img.width, img.height, heif_colorspace_RGB,
                      alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, img.width, img.height, 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const int bpp = alpha ? 4 : 3;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            std::memcpy(plane + size_t(y) * size_t(stride) + size_t(x) * bpp,
                        img.pixels.data() + (size_t(y) * size_t(img.width) + size_t(x)) * 4, size_t(bpp));
    heif_context_encode_image(ctx, image, encoder, nullptr, nullptr);
    heif_encoder_release(encoder);
    heif_image_release(image);
    Bytes out;
    heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* userdata) {
                           auto* o = static_cast<Bytes*>(userdata);
                           o->insert(o->end(), static_cast<const uint8_t*>(data),
                                     static_cast<const uint8_t*>(data) + size);
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    heif_context_write(ctx, &writer, &out);
    heif_context_free(ctx);
    return out;
}

/// How a test JPEG is laid out beyond its quality.
struct JpegLayout {
    int lumaH = 2, lumaV = 2;  // the luma sampling factors; chroma is 1 x 1
    bool progressive = false;
    int restartRows = 0;
};

Bytes jpegLaidOut(const Rgba& img, int quality, const Bytes* exif, const JpegLayout& layout);

/// A colour JPEG, optionally with an Exif APP1 block saying how it is turned.
inline Bytes jpeg(const Rgba& img, int quality = 90, const Bytes* exif = nullptr, bool progressive = false,
                  bool subsample = true)
{
    JpegLayout layout;
    layout.progressive = progressive;
    if (!subsample)
        layout.lumaH = layout.lumaV = 1;
    return jpegLaidOut(img, quality, exif, layout);
}

inline Bytes jpegLaidOut(const Rgba& img, int quality, const Bytes* exif, const JpegLayout& layout)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(img.width);
    cinfo.image_height = JDIMENSION(img.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (layout.progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.restart_in_rows = layout.restartRows;
    cinfo.comp_info[0].h_samp_factor = layout.lumaH;
    cinfo.comp_info[0].v_samp_factor = layout.lumaV;
    for (int c = 1; c < 3; ++c)
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    if (exif) {
        Bytes app1 = {'E', 'x', 'i', 'f', 0, 0};
        app1.insert(app1.end(), exif->begin(), exif->end());
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1.data(), unsigned(app1.size()));
    }
    std::vector<uint8_t> row(size_t(img.width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < img.width; ++x)
            std::memcpy(row.data() + size_t(x) * 3, img.pixels.data() + (size_t(y) * size_t(img.width) + size_t(x)) * 4, 3);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes bytes(buffer, buffer + size);
    std::free(buffer);
    jpeg_destroy_compress(&cinfo);
    return bytes;
}

}  // namespace tsx::photos
