#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it
#include <jerror.h>
#include <jpeglib.h>
// the entropy decoder's method table, to see every block a pass decodes
#include <jpegint.h>

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

// Warnings do not stop decoding, but they are counted: a pass that met one
// has decoded damaged data.
void ignoreMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        ++cinfo->err->num_warnings;
}
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

// libjpeg's output range limit after an inverse DCT: the value centred on
// 128 and clamped, wrapping as the library's table does far out of range.
uint8_t idctLimit(int value)
{
    const int index = value & 1023;
    if (index < 128)
        return uint8_t(index + 128);
    if (index < 512)
        return 255;
    if (index < 896)
        return 0;
    return uint8_t(index - 896);
}

int descale(int64_t value, int bits) { return int((value + (int64_t(1) << (bits - 1))) >> bits); }

// The picture at 1/8 of its size, made from the blocks a row-skipping pass
// entropy-decodes anyway. libjpeg's own 1/8 decode takes each block's DC
// term (a 1 x 1 inverse DCT), or a 2 x 2 inverse DCT where that spares a
// chroma plane its upsampling, then replicates and converts colour; this
// does the same arithmetic, so the two agree to the byte.
class EighthCollector {
public:
    // False when the file's layout is not one this knows: then nothing is hooked.
    bool attach(j_decompress_ptr cinfo)
    {
        if (cinfo->progressive_mode || cinfo->arith_code || jpeg_has_multiple_scans(cinfo)
            || cinfo->num_components != 3 || cinfo->comps_in_scan != 3 || cinfo->jpeg_color_space != JCS_YCbCr
            || cinfo->data_precision != 8)
            return false;
        const int maxH = cinfo->max_h_samp_factor, maxV = cinfo->max_v_samp_factor;
        m_mcusPerRow = cinfo->MCUs_per_row;
        m_mcus = size_t(cinfo->MCUs_per_row) * cinfo->total_iMCU_rows;
        for (int ci = 0; ci < 3; ++ci) {
            const jpeg_component_info& comp = cinfo->comp_info[ci];
            Plane& p = m_planes[ci];
            // libjpeg scales a plane up by its inverse DCT while that still
            // leaves whole upsampling steps
            int size = 1;
            while (size < 8 && (maxH % (comp.h_samp_factor * size * 2)) == 0
                   && (maxV % (comp.v_samp_factor * size * 2)) == 0)
                size *= 2;
            if (size > 2 || maxH % (comp.h_samp_factor * size) || maxV % (comp.v_samp_factor * size))
                return false;
            p.size = size;
            p.stepX = maxH / (comp.h_samp_factor * size);
            p.stepY = maxV / (comp.v_samp_factor * size);
            if (p.stepX > 2 || p.stepY > 2)
                return false;
            p.stride = size_t(cinfo->MCUs_per_row) * size_t(comp.h_samp_factor) * size_t(size);
            p.samples.assign(p.stride * cinfo->total_iMCU_rows * size_t(comp.v_samp_factor) * size_t(size), 0);
            p.mcuBytesAcross = size_t(comp.h_samp_factor) * size_t(size);
            p.mcuRowBytes = p.stride * size_t(comp.v_samp_factor) * size_t(size);
        }
        m_blocksInMcu = cinfo->blocks_in_MCU;
        if (m_blocksInMcu > D_MAX_BLOCKS_IN_MCU)
            return false;
        int blkn = 0;
        for (int ci = 0; ci < cinfo->comps_in_scan; ++ci) {
            const jpeg_component_info* comp = cinfo->cur_comp_info[ci];
            if (!comp->quant_table || comp->component_index < 0 || comp->component_index > 2)
                return false;
            const Plane& p = m_planes[comp->component_index];
            for (int by = 0; by < comp->MCU_height; ++by)
                for (int bx = 0; bx < comp->MCU_width; ++bx, ++blkn)
                    m_places[blkn] = {comp->component_index,
                                      size_t(by) * size_t(p.size) * p.stride + size_t(bx) * size_t(p.size),
                                      comp->quant_table->quantval};
        }
        if (blkn != m_blocksInMcu)
            return false;
        std::memset(m_scratch, 0, sizeof m_scratch);
        for (int i = 0; i < D_MAX_BLOCKS_IN_MCU; ++i)
            m_scratchRows[i] = &m_scratch[i];
        m_library = cinfo->entropy->decode_mcu;
        cinfo->client_data = this;
        cinfo->entropy->decode_mcu = &EighthCollector::decode;
        return true;
    }

    // The 1/8 picture in blue, green, red, or false when a block was missed
    // or the data was damaged.
    bool finish(j_decompress_ptr cinfo, TDIB& eighth) const
    {
        if (m_mcu != m_mcus || cinfo->err->num_warnings != 0)
            return false;
        const int width = int((cinfo->image_width + 7) / 8), height = int((cinfo->image_height + 7) / 8);
        // libjpeg's colour conversion tables, entry for entry
        constexpr int kBits = 16;
        constexpr int64_t kHalf = int64_t(1) << (kBits - 1);
        auto fix = [](double x) { return int64_t(x * 65536.0 + 0.5); };
        int crR[256], cbB[256];
        int64_t crG[256], cbG[256];
        for (int i = 0; i < 256; ++i) {
            const int64_t x = i - 128;
            crR[i] = int((fix(1.40200) * x + kHalf) >> kBits);
            cbB[i] = int((fix(1.77200) * x + kHalf) >> kBits);
            crG[i] = -fix(0.71414) * x;
            cbG[i] = -fix(0.34414) * x + kHalf;
        }
        TDIB out;
        out.Allocate(width, height, 24);
        const Plane &yp = m_planes[0], &cbp = m_planes[1], &crp = m_planes[2];
        // steps are 1 or 2 (attach refuses any other)
        const int yx = yp.stepX / 2, cbx = cbp.stepX / 2, crx = crp.stepX / 2;
        for (int y = 0; y < height; ++y) {
            uint8_t* row = out.RowPointer(y);
            const uint8_t* ys = yp.samples.data() + size_t(y >> (yp.stepY / 2)) * yp.stride;
            const uint8_t* cbs = cbp.samples.data() + size_t(y >> (cbp.stepY / 2)) * cbp.stride;
            const uint8_t* crs = crp.samples.data() + size_t(y >> (crp.stepY / 2)) * crp.stride;
            for (int x = 0; x < width; ++x) {
                const int luma = ys[x >> yx], cb = cbs[x >> cbx], cr = crs[x >> crx];
                row[3 * x + 0] = clampByte(luma + cbB[cb]);
                row[3 * x + 1] = clampByte(luma + int((cbG[cb] + crG[cr]) >> kBits));
                row[3 * x + 2] = clampByte(luma + crR[cr]);
            }
        }
        eighth = out;
        return true;
    }

private:
    struct Plane {
        int size = 1;           // samples per block side at 1/8
        int stepX = 1, stepY = 1;  // output pixels per sample
        size_t stride = 0;
        size_t mcuBytesAcross = 0, mcuRowBytes = 0;  // from one MCU to the next, and down a row of them
        std::vector<uint8_t> samples;
    };

    static uint8_t clampByte(int v) { return uint8_t(std::clamp(v, 0, 255)); }

    static boolean decode(j_decompress_ptr cinfo, JBLOCKROW* blocks)
    {
        auto* self = static_cast<EighthCollector*>(cinfo->client_data);
        // A skipped row: the library would throw the terms away, so they go
        // to blocks of ours. The decoder writes only the terms that are not
        // zero; the ones a 2 x 2 plane reads are cleared again after each use.
        JBLOCKROW* into = blocks ? blocks : self->m_scratchRows;
        if (!self->m_library(cinfo, into))
            return FALSE;
        self->take(into, !blocks);
        return TRUE;
    }

    // The terms a 2 x 2 inverse DCT reads: rows and columns 0, 1, 3, 5, 7.
    static constexpr int kLowTerms[5] = {0, 1, 3, 5, 7};

    void take(JBLOCKROW* blocks, bool scratch)
    {
        if (m_mcu++ >= m_mcus)
            return;
        for (int blkn = 0; blkn < m_blocksInMcu; ++blkn) {
            const BlockPlace& place = m_places[blkn];
            Plane& p = m_planes[place.plane];
            JCOEF* c = blocks[blkn][0];
            uint8_t* at = p.samples.data() + m_mcuOffset[place.plane] + place.offset;
            if (p.size == 1) {
                *at = idctLimit(descale(int64_t(c[0]) * place.quant[0], 3));
            } else if (idct2x2(c, place.quant, at, p.stride) && scratch) {
                std::memset(c, 0, sizeof(JBLOCK));
            }
        }
        // on to the next MCU: across, then down a row of them
        if (++m_mcuCol == m_mcusPerRow) {
            m_mcuCol = 0;
            for (int i = 0; i < 3; ++i)
                m_mcuOffset[i] = (m_mcu / m_mcusPerRow) * m_planes[i].mcuRowBytes;
        } else {
            for (int i = 0; i < 3; ++i)
                m_mcuOffset[i] += m_planes[i].mcuBytesAcross;
        }
    }

    // libjpeg's reduced 2 x 2 inverse DCT: only terms 0, 1, 3, 5 and 7 of
    // each direction reach the four outputs. False when the block had no
    // such AC terms (nothing to clear after it).
    static bool idct2x2(const JCOEF* c, const UINT16* q, uint8_t* out, size_t stride)
    {
        // most chroma blocks of a photo have none: then all four outputs are
        // the 1 x 1 value, as the library's own shortcuts give as well
        const int rows = c[8] | c[24] | c[40] | c[56];
        int ac = c[1] | c[3] | c[5] | c[7] | rows;
        for (const int row : {8, 24, 40, 56})
            ac |= c[row + 1] | c[row + 3] | c[row + 5] | c[row + 7];
        if (ac == 0) {
            const uint8_t v = idctLimit(descale(int64_t(c[0]) * q[0], 3));
            out[0] = out[1] = out[stride] = out[stride + 1] = v;
            return false;
        }
        constexpr int kConstBits = 13, kPass1Bits = 2;
        constexpr int64_t k0_720959822 = 5906, k0_850430095 = 6967, k1_272758580 = 10426, k3_624509785 = 29692;
        auto odd = [](int64_t t1, int64_t t3, int64_t t5, int64_t t7) {
            return t7 * -k0_720959822 + t5 * k0_850430095 + t3 * -k1_272758580 + t1 * k3_624509785;
        };
        int ws[2][8] = {};
        for (const int col : kLowTerms) {
            auto deq = [&](int row) { return int64_t(c[row * 8 + col]) * q[row * 8 + col]; };
            if ((c[8 + col] | c[24 + col] | c[40 + col] | c[56 + col]) == 0) {
                // the column's shortcut, exact as well
                ws[0][col] = ws[1][col] = int(deq(0) * (1 << kPass1Bits));
                continue;
            }
            const int64_t even = deq(0) * (int64_t(1) << (kConstBits + 2));
            const int64_t o = odd(deq(1), deq(3), deq(5), deq(7));
            ws[0][col] = descale(even + o, kConstBits - kPass1Bits + 2);
            ws[1][col] = descale(even - o, kConstBits - kPass1Bits + 2);
        }
        for (int row = 0; row < 2; ++row) {
            const int* w = ws[row];
            const int64_t even = int64_t(w[0]) * (int64_t(1) << (kConstBits + 2));
            const int64_t o = odd(w[1], w[3], w[5], w[7]);
            out[size_t(row) * stride] = idctLimit(descale(even + o, kConstBits + kPass1Bits + 3 + 2));
            out[size_t(row) * stride + 1] = idctLimit(descale(even - o, kConstBits + kPass1Bits + 3 + 2));
        }
        return true;
    }

    // Where block blkn of every MCU goes: its plane, its offset from the
    // MCU's corner there, and its quantization table.
    struct BlockPlace {
        int plane = 0;
        size_t offset = 0;
        const UINT16* quant = nullptr;
    };

    size_t m_mcusPerRow = 1, m_mcus = 0, m_mcu = 0, m_mcuCol = 0;
    int m_blocksInMcu = 0;
    BlockPlace m_places[D_MAX_BLOCKS_IN_MCU];
    size_t m_mcuOffset[3] = {};
    Plane m_planes[3];
    boolean (*m_library)(j_decompress_ptr, JBLOCKROW*) = nullptr;
    JBLOCK m_scratch[D_MAX_BLOCKS_IN_MCU];
    JBLOCKROW m_scratchRows[D_MAX_BLOCKS_IN_MCU];
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

bool TJPEGImage::SampleInto(TDIB& sample, int width, int height, TDIB* eighth) const
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
    EighthCollector collector;
    if (eighth)
        eighth->MakeEmpty();
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
    const bool collecting = eighth && collector.attach(&d.cinfo);
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
    if (collecting) {
        // the 1/8 picture needs every block: the rows after the last sample
        // are entropy-decoded too. Skipping to the very end would jump past
        // them undecoded, so the last row is read.
        if (d.cinfo.output_scanline + 1 < d.cinfo.output_height)
            jpeg_skip_scanlines(&d.cinfo, d.cinfo.output_height - 1 - d.cinfo.output_scanline);
        if (d.cinfo.output_scanline < d.cinfo.output_height)
            jpeg_read_scanlines(&d.cinfo, &rowPointer, 1);
        collector.finish(&d.cinfo, *eighth);
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
