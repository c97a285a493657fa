#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it
#include <jerror.h>
#include <jpeglib.h>

#include "imageio/exif.h"
#include "imageio/graphics.h"
#include "raster/byte_io.h"
#include "raster/errors.h"

namespace tsx {
namespace {

// A decoded JPEG may be far larger than its file, but a forged header must not
// make us allocate gigabytes: beyond this floor the raster may be at most this
// many times the size of the file (a flat picture compresses by a few hundred).
constexpr int64_t kUncheckedRasterBytes = int64_t(8) << 20;
constexpr int64_t kMaxExpansion = 4096;

// libjpeg reports errors through error_exit, which must not return; we jump
// back to the frame that started the library call and raise from there, so
// no C++ exception ever crosses the library's C frames.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void onError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void ignoreMessage(j_common_ptr, int) {}  // warnings do not stop decoding
void ignoreOutput(j_common_ptr) {}

[[noreturn]] void raise(int code) { throw EJPEG(formatMessage(msg::kJPEGError, code)); }

// Owns the decompressor for the frame that created it, whichever way the
// frame is left.
struct Decompressor {
    jpeg_decompress_struct cinfo {};
    ErrorManager err {};
    bool created = false;

    Decompressor()
    {
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = onError;
        err.pub.emit_message = ignoreMessage;
        err.pub.output_message = ignoreOutput;
    }
    ~Decompressor()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

}  // namespace

void TJPEGImage::LoadFromMemory(const uint8_t* data, size_t size)
{
    loadBytes(std::vector<uint8_t>(data, data + size));
}

void TJPEGImage::LoadFromFile(const std::string& fileName) { loadBytes(readWholeFile(fileName)); }

void TJPEGImage::loadBytes(std::vector<uint8_t> bytes)
{
    const size_t size = bytes.size();
    int width = 0, height = 0;
    bool grayscale = false, progressive = false;
    // set after setjmp and read after a possible longjmp
    volatile int orientation = 1;
    if (size > 0) {
        Decompressor d;
        if (setjmp(d.err.jump))
            raise(d.err.pub.msg_code);
        jpeg_create_decompress(&d.cinfo);
        d.created = true;
        jpeg_mem_src(&d.cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
        jpeg_read_header(&d.cinfo, TRUE);
        for (jpeg_saved_marker_ptr m = d.cinfo.marker_list; m; m = m->next)
            if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
                orientation = exifOrientation({m->data, m->data_length});
                break;
            }
        width = int(d.cinfo.image_width);
        height = int(d.cinfo.image_height);
        grayscale = d.cinfo.jpeg_color_space == JCS_GRAYSCALE;
        progressive = jpeg_has_multiple_scans(&d.cinfo);
    }
    data_ = std::move(bytes);
    width_ = width;
    height_ = height;
    grayscale_ = grayscale;
    progressive_ = progressive;
    orientation_ = orientation;
    decoded_ = TBitmap();
    isDecoded_ = false;
}

void TJPEGImage::DecodeInto(TBitmap& bitmap, int eighths) const
{
    if (data_.empty()) {
        bitmap.Dib().MakeEmpty();
        return;
    }
    // Every C++ object the library calls could jump over is made before setjmp.
    Decompressor d;
    TDIB result;
    std::vector<JSAMPROW> rows;
    if (setjmp(d.err.jump))
        raise(d.err.pub.msg_code);
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    jpeg_mem_src(&d.cinfo, data_.data(), static_cast<unsigned long>(data_.size()));
    jpeg_read_header(&d.cinfo, TRUE);

    const int64_t w = d.cinfo.image_width, h = d.cinfo.image_height;
    const int64_t rasterBytes = (w * 3 + 3) / 4 * 4 * h;
    if (w * h > kMaxPicturePixels
        || rasterBytes > std::max<int64_t>(kUncheckedRasterBytes, kMaxExpansion * int64_t(data_.size())))
        raise(JERR_IMAGE_TOO_BIG);

    d.cinfo.do_block_smoothing = TRUE;
    d.cinfo.scale_num = unsigned(std::clamp(eighths, 1, 8));
    d.cinfo.scale_denom = 8;
    const bool quantized = grayscale_;
    if (quantized) {
        d.cinfo.quantize_colors = TRUE;
        d.cinfo.desired_number_of_colors = 236;
    } else {
        // libjpeg writes blue, green, red itself: no second pass over the pixels
        d.cinfo.out_color_space = JCS_EXT_BGR;
    }
    jpeg_start_decompress(&d.cinfo);
    const int outWidth = int(d.cinfo.output_width), outHeight = int(d.cinfo.output_height);
    if (quantized) {
        const int components = d.cinfo.out_color_components;
        for (int i = 0; i < d.cinfo.actual_number_of_colors && i < 256; ++i) {
            const uint8_t r = d.cinfo.colormap[0][i];
            const uint8_t g = d.cinfo.colormap[components > 1 ? 1 : 0][i];
            const uint8_t b = d.cinfo.colormap[components > 2 ? 2 : 0][i];
            result.ColorTable()[size_t(i)] = TRGBQuad{b, g, r, 0};
        }
    }
    result.Allocate(outWidth, outHeight, quantized ? 8 : 24);
    rows.resize(size_t(outHeight));
    for (int y = 0; y < outHeight; ++y)
        rows[size_t(y)] = result.RowPointer(y);
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        const JDIMENSION done = d.cinfo.output_scanline;
        jpeg_read_scanlines(&d.cinfo, rows.data() + done, d.cinfo.output_height - done);
    }
    bitmap.Dib() = result;
}

int TJPEGImage::CoveringScale(int width, int height) const
{
    const bool turned = orientation_ >= 5;
    const int64_t w = turned ? height_ : width_, h = turned ? width_ : height_;
    const int64_t needW = std::max(width, 1), needH = std::max(height, 1);
    for (int n = 1; n < 8; ++n) {
        // libjpeg rounds a scaled size up
        if ((w * n + 7) / 8 >= needW && (h * n + 7) / 8 >= needH)
            return n;
    }
    return 8;
}

bool TJPEGImage::SampleInto(TDIB& sample, int width, int height) const
{
    if (data_.empty() || grayscale_ || width <= 0 || height <= 0)
        return false;
    Decompressor d;
    TDIB result;
    std::vector<uint8_t> row;
    std::vector<int> rows;
    struct Point {
        int sx, sy;
    };
    std::vector<Point> points;
    if (setjmp(d.err.jump))
        raise(d.err.pub.msg_code);
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    jpeg_mem_src(&d.cinfo, data_.data(), static_cast<unsigned long>(data_.size()));
    jpeg_read_header(&d.cinfo, TRUE);
    const int64_t w = d.cinfo.image_width, h = d.cinfo.image_height;
    const int64_t rasterBytes = (w * 3 + 3) / 4 * 4 * h;
    if (w * h > kMaxPicturePixels
        || rasterBytes > std::max<int64_t>(kUncheckedRasterBytes, kMaxExpansion * int64_t(data_.size())))
        raise(JERR_IMAGE_TOO_BIG);
    d.cinfo.do_block_smoothing = TRUE;
    d.cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d.cinfo);
    const int sw = int(d.cinfo.output_width), sh = int(d.cinfo.output_height);
    const bool turned = orientation_ >= 5;
    const int uw = turned ? sh : sw, uh = turned ? sw : sh;

    // the stored point of every sample, as stretchNearest picks it upright
    points.resize(size_t(width) * size_t(height));
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) {
            const int ux = int(int64_t(i) * uw / width), uy = int(int64_t(j) * uh / height);
            Point& p = points[size_t(j) * size_t(width) + size_t(i)];
            storedPoint(orientation_, sw, sh, ux, uy, p.sx, p.sy);
            rows.push_back(p.sy);
        }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());

    result.Allocate(width, height, 24);
    row.resize(size_t(sw) * 3);
    JSAMPROW rowPointer = row.data();
    for (const int r : rows) {
        // libjpeg-turbo skips rows without the colour conversion and, where
        // it can, without the inverse DCT, and gives the rows after them
        // exactly as a full decode does
        if (int(d.cinfo.output_scanline) < r)
            jpeg_skip_scanlines(&d.cinfo, JDIMENSION(r) - d.cinfo.output_scanline);
        jpeg_read_scanlines(&d.cinfo, &rowPointer, 1);
        for (size_t k = 0; k < points.size(); ++k) {
            if (points[k].sy != r)
                continue;
            uint8_t* out = result.RowPointer(int(k / size_t(width))) + (k % size_t(width)) * 3;
            std::memcpy(out, row.data() + size_t(points[k].sx) * 3, 3);
        }
    }
    jpeg_abort_decompress(&d.cinfo);
    sample = result;
    return true;
}

const TDIB* TJPEGImage::PixelRaster() const
{
    if (!isDecoded_) {
        DecodeInto(decoded_);
        isDecoded_ = true;
    }
    return &decoded_.Dib();
}

}  // namespace tsx
