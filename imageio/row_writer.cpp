#include "imageio/row_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstddef>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it
#include <jpeglib.h>
#include <spng.h>
#include <tiffio.h>

#include "imageio/formats.h"
#include "raster/byte_io.h"
#include "raster/errors.h"

namespace tsx {
namespace {

[[noreturn]] void cannotCreate(const std::string& fileName)
{
    throw EFCreateError(formatMessage(msg::kCannotCreate, fileName.c_str()));
}

// Blue, green, red rows as the libraries want them: red, green, blue.
void toRgb(const uint8_t* bgr, int width, uint8_t* rgb)
{
    for (int x = 0; x < width; ++x, bgr += 3, rgb += 3) {
        rgb[0] = bgr[2];
        rgb[1] = bgr[1];
        rgb[2] = bgr[0];
    }
}

void checkRowCount(int written, int count, int height, const std::string& fileName)
{
    if (count < 0 || int64_t(written) + count > height)
        throw EWriteError(formatMessage("More rows than the picture has were written to %s", fileName.c_str()));
}

// ---------------------------------------------------------------- BMP

constexpr uint32_t kBmpHeaderBytes = 54;

class BmpRowWriter : public RowWriter {
public:
    BmpRowWriter(const std::string& fileName, int width, int height)
        : m_file(fileName), m_width(width), m_height(height),
          m_rowBytes(size_t(TDIB::widthBytesFor(width, 24)))
    {
        const uint32_t imageBytes = uint32_t(m_rowBytes * size_t(height));
        std::vector<uint8_t> head;
        ByteWriter w(head);
        w.u8('B');
        w.u8('M');
        w.u32le(kBmpHeaderBytes + imageBytes);
        w.u32le(0);
        w.u32le(kBmpHeaderBytes);
        w.u32le(40);
        w.i32le(width);
        w.i32le(height);
        w.u16le(1);
        w.u16le(24);
        w.u32le(0);
        w.u32le(imageBytes);
        w.zeros(16);
        m_file.write(head.data(), head.size());
    }

    void writeRows(const uint8_t* rows, ptrdiff_t stride, int count) override
    {
        checkRowCount(m_rows, count, m_height, m_file.fileName());
        // Consecutive rows of the picture are consecutive rows of the file,
        // backwards: the band goes out as one write, last row first.
        m_band.resize(m_rowBytes * size_t(count));
        const size_t pixelBytes = size_t(m_width) * 3;
        for (int k = 0; k < count; ++k) {
            uint8_t* to = m_band.data() + size_t(count - 1 - k) * m_rowBytes;
            std::memcpy(to, rows + k * stride, pixelBytes);
            std::memset(to + pixelBytes, 0, m_rowBytes - pixelBytes);
        }
        const int lowest = m_rows + count - 1;  // counted from the top
        m_file.writeAt(kBmpHeaderBytes + uint64_t(m_height - 1 - lowest) * m_rowBytes, m_band.data(),
                       m_band.size());
        m_file.startWriteback();
        m_rows += count;
    }

    void finish() override
    {
        if (m_rows != m_height)
            throw EWriteError(formatMessage("%s is missing rows", m_file.fileName().c_str()));
        m_file.commit();
    }

private:
    AtomicFileWriter m_file;
    int m_width, m_height;
    size_t m_rowBytes;
    std::vector<uint8_t> m_band;
};

// ---------------------------------------------------------------- PNG

class PngRowWriter : public RowWriter {
public:
    PngRowWriter(const std::string& fileName, int width, int height, const ImageWriteOptions& options)
        : m_file(fileName), m_width(width), m_height(height), m_rgb(size_t(width) * 3)
    {
        m_ctx = spng_ctx_new(SPNG_CTX_ENCODER);
        if (!m_ctx)
            cannotCreate(fileName);
        spng_ihdr ihdr{};
        ihdr.width = uint32_t(width);
        ihdr.height = uint32_t(height);
        ihdr.bit_depth = 8;
        ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
        check(spng_set_png_stream(m_ctx, &PngRowWriter::sink, this));
        check(spng_set_ihdr(m_ctx, &ihdr));
        if (options.dpi > 0) {
            // pixels per metre, rounded: 300 dpi is 11811
            const auto perMetre = uint32_t(options.dpi / 0.0254 + 0.5);
            spng_phys phys{perMetre, perMetre, 1};  // unit 1: the metre
            check(spng_set_phys(m_ctx, &phys));
        }
        check(spng_encode_image(m_ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE));
    }

    ~PngRowWriter() override { spng_ctx_free(m_ctx); }

    void writeRows(const uint8_t* rows, ptrdiff_t stride, int count) override
    {
        checkRowCount(m_rows, count, m_height, m_file.fileName());
        for (int k = 0; k < count; ++k) {
            toRgb(rows + k * stride, m_width, m_rgb.data());
            const int rc = spng_encode_row(m_ctx, m_rgb.data(), m_rgb.size());
            ++m_rows;
            // the library says end of image after the last row
            if (rc != 0 && !(rc == SPNG_EOI && m_rows == m_height))
                fail(rc);
        }
        m_file.startWriteback();
    }

    void finish() override
    {
        if (m_rows != m_height)
            throw EWriteError(formatMessage("%s is missing rows", m_file.fileName().c_str()));
        m_file.commit();
    }

private:
    static int sink(spng_ctx*, void* user, void* data, size_t length)
    {
        auto* self = static_cast<PngRowWriter*>(user);
        try {
            self->m_file.write(data, length);
        } catch (const std::exception& ex) {
            self->m_error = ex.what();
            return SPNG_IO_ERROR;
        }
        return 0;
    }

    void check(int rc)
    {
        if (rc != 0)
            fail(rc);
    }

    [[noreturn]] void fail(int rc)
    {
        if (!m_error.empty())
            throw EFCreateError(m_error);
        throw EFCreateError(formatMessage("Cannot create file %s (%s)", m_file.fileName().c_str(), spng_strerror(rc)));
    }

    AtomicFileWriter m_file;
    int m_width, m_height;
    spng_ctx* m_ctx = nullptr;
    std::vector<uint8_t> m_rgb;
    std::string m_error;
};

// ---------------------------------------------------------------- JPEG

// libjpeg reports errors through error_exit, which must not return; it jumps
// back to the frame that made the library call, which raises from there, so no
// C++ exception ever crosses the library's C frames.
struct JpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void jpegError(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1); }
void jpegIgnore(j_common_ptr, int) {}

constexpr size_t kJpegBufferBytes = size_t(1) << 16;

class JpegRowWriter : public RowWriter {
public:
    JpegRowWriter(const std::string& fileName, int width, int height, const ImageWriteOptions& options)
        : m_file(fileName), m_height(height), m_buffer(kJpegBufferBytes)
    {
        m_cinfo.err = jpeg_std_error(&m_errors.pub);
        m_errors.pub.error_exit = jpegError;
        m_errors.pub.emit_message = jpegIgnore;
        m_dest.init_destination = [](j_compress_ptr) {};
        m_dest.empty_output_buffer = &JpegRowWriter::flushFull;
        m_dest.term_destination = &JpegRowWriter::flushRest;
        if (setjmp(m_errors.jump))
            raise();
        jpeg_create_compress(&m_cinfo);
        m_created = true;
        m_cinfo.client_data = this;
        m_cinfo.dest = &m_dest;
        resetBuffer();
        m_cinfo.image_width = JDIMENSION(width);
        m_cinfo.image_height = JDIMENSION(height);
        m_cinfo.input_components = 3;
        m_cinfo.in_color_space = JCS_EXT_BGR;  // our rows as they are
        jpeg_set_defaults(&m_cinfo);
        jpeg_set_quality(&m_cinfo, std::clamp(options.jpegQuality, 1, 100), TRUE);
        const int luma = options.jpegSubsampled ? 2 : 1;
        m_cinfo.comp_info[0].h_samp_factor = luma;
        m_cinfo.comp_info[0].v_samp_factor = luma;
        for (int c = 1; c < 3; ++c) {
            m_cinfo.comp_info[c].h_samp_factor = 1;
            m_cinfo.comp_info[c].v_samp_factor = 1;
        }
        if (options.dpi > 0) {
            m_cinfo.density_unit = 1;  // dots per inch
            m_cinfo.X_density = UINT16(std::min(options.dpi, 65535));
            m_cinfo.Y_density = m_cinfo.X_density;
        }
        jpeg_start_compress(&m_cinfo, TRUE);
    }

    ~JpegRowWriter() override
    {
        if (m_created)
            jpeg_destroy_compress(&m_cinfo);
    }

    void writeRows(const uint8_t* rows, ptrdiff_t stride, int count) override
    {
        checkRowCount(m_rows, count, m_height, m_file.fileName());
        if (setjmp(m_errors.jump))
            raise();
        for (int k = 0; k < count; ++k) {
            auto* row = const_cast<JSAMPROW>(rows + k * stride);
            jpeg_write_scanlines(&m_cinfo, &row, 1);
        }
        m_rows += count;
        m_file.startWriteback();
    }

    void finish() override
    {
        if (m_rows != m_height)
            throw EWriteError(formatMessage("%s is missing rows", m_file.fileName().c_str()));
        if (setjmp(m_errors.jump))
            raise();
        jpeg_finish_compress(&m_cinfo);
        m_file.commit();
    }

private:
    static JpegRowWriter& of(j_compress_ptr cinfo) { return *static_cast<JpegRowWriter*>(cinfo->client_data); }

    void resetBuffer()
    {
        m_dest.next_output_byte = m_buffer.data();
        m_dest.free_in_buffer = m_buffer.size();
    }

    // A failed write is kept and turned into the library's error exit, which
    // jumps back to the frame that raises it.
    bool put(size_t bytes)
    {
        try {
            m_file.write(m_buffer.data(), bytes);
        } catch (const std::exception& ex) {
            m_error = ex.what();
            return false;
        }
        resetBuffer();
        return true;
    }

    static boolean flushFull(j_compress_ptr cinfo)
    {
        if (!of(cinfo).put(kJpegBufferBytes))
            jpegError(reinterpret_cast<j_common_ptr>(cinfo));
        return TRUE;
    }

    static void flushRest(j_compress_ptr cinfo)
    {
        JpegRowWriter& self = of(cinfo);
        if (!self.put(kJpegBufferBytes - self.m_dest.free_in_buffer))
            jpegError(reinterpret_cast<j_common_ptr>(cinfo));
    }

    [[noreturn]] void raise()
    {
        if (!m_error.empty())
            throw EFCreateError(m_error);
        char text[JMSG_LENGTH_MAX];
        (*m_errors.pub.format_message)(reinterpret_cast<j_common_ptr>(&m_cinfo), text);
        throw EFCreateError(formatMessage("Cannot create file %s (%s)", m_file.fileName().c_str(), text));
    }

    AtomicFileWriter m_file;
    int m_height;
    jpeg_compress_struct m_cinfo{};
    JpegErrors m_errors{};
    jpeg_destination_mgr m_dest{};
    bool m_created = false;
    std::vector<uint8_t> m_buffer;
    std::string m_error;
};

// ---------------------------------------------------------------- TIFF

// libtiff reports through process-wide handlers; the writer on this thread
// collects the text of its error, and warnings are not shown.
thread_local std::string* t_tiffError = nullptr;

void tiffError(const char*, const char* fmt, va_list args)
{
    if (!t_tiffError)
        return;
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, args);
    *t_tiffError = text;
}

void installTiffHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(tiffError);
        TIFFSetWarningHandler(nullptr);
    });
}

// Classic TIFF counts its offsets in 32 bits; past this the file is BigTIFF.
// Compressed data can outgrow the pixels a little, hence the margin.
bool needsBigTiff(int width, int height)
{
    const uint64_t raw = uint64_t(width) * uint64_t(height) * 3;
    return raw + raw / 8 + (uint64_t(64) << 20) > UINT32_MAX;
}

class TiffRowWriter : public RowWriter {
public:
    TiffRowWriter(const std::string& fileName, int width, int height, const ImageWriteOptions& options)
        : m_file(fileName), m_width(width), m_height(height), m_rgb(size_t(width) * 3)
    {
        installTiffHandlers();
        Collect collect(m_error);
        const int fd = ::dup(m_file.descriptor());
        if (fd < 0)
            cannotCreate(fileName);
        m_tif = TIFFFdOpen(fd, fileName.c_str(), needsBigTiff(width, height) ? "w8" : "w");
        if (!m_tif) {
            ::close(fd);
            fail();
        }
        uint16_t compression = COMPRESSION_NONE;
        if (options.tiffCompression == TiffCompression::Deflate)
            compression = COMPRESSION_ADOBE_DEFLATE;
        else if (options.tiffCompression == TiffCompression::Lzw)
            compression = COMPRESSION_LZW;
        TIFFSetField(m_tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
        TIFFSetField(m_tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
        TIFFSetField(m_tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(m_tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(m_tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(m_tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(m_tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        TIFFSetField(m_tif, TIFFTAG_COMPRESSION, compression);
        if (compression != COMPRESSION_NONE)
            TIFFSetField(m_tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        // strips of about 256 KB: small enough for any reader, few enough for a poster
        const uint32_t rowsPerStrip = std::max<uint32_t>(1, uint32_t((size_t(256) << 10) / m_rgb.size()));
        TIFFSetField(m_tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        if (options.dpi > 0) {
            TIFFSetField(m_tif, TIFFTAG_XRESOLUTION, float(options.dpi));
            TIFFSetField(m_tif, TIFFTAG_YRESOLUTION, float(options.dpi));
            TIFFSetField(m_tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        }
    }

    ~TiffRowWriter() override
    {
        if (m_tif) {
            Collect collect(m_error);
            TIFFClose(m_tif);
        }
    }

    void writeRows(const uint8_t* rows, ptrdiff_t stride, int count) override
    {
        checkRowCount(m_rows, count, m_height, m_file.fileName());
        Collect collect(m_error);
        for (int k = 0; k < count; ++k) {
            toRgb(rows + k * stride, m_width, m_rgb.data());
            if (TIFFWriteScanline(m_tif, m_rgb.data(), uint32_t(m_rows), 0) < 0)
                fail();
            ++m_rows;
        }
        m_file.startWriteback();
    }

    void finish() override
    {
        if (m_rows != m_height)
            throw EWriteError(formatMessage("%s is missing rows", m_file.fileName().c_str()));
        Collect collect(m_error);
        // TIFFClose cannot report a failure: flush first, which does
        if (!TIFFFlush(m_tif))
            fail();
        TIFFClose(m_tif);
        m_tif = nullptr;
        m_file.commit();
    }

private:
    struct Collect {
        explicit Collect(std::string& text) : saved(t_tiffError) { t_tiffError = &text; }
        ~Collect() { t_tiffError = saved; }
        std::string* saved;
    };

    [[noreturn]] void fail()
    {
        if (m_error.empty())
            cannotCreate(m_file.fileName());
        throw EFCreateError(formatMessage("Cannot create file %s (%s)", m_file.fileName().c_str(), m_error.c_str()));
    }

    AtomicFileWriter m_file;
    int m_width, m_height;
    TIFF* m_tif = nullptr;
    std::vector<uint8_t> m_rgb;
    std::string m_error;
};

std::string lower(std::string text)
{
    for (char& ch : text)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

const char* kindName(ImageFileKind kind)
{
    switch (kind) {
    case ImageFileKind::Bmp: return "BMP";
    case ImageFileKind::Png: return "PNG";
    case ImageFileKind::Jpeg: return "JPEG";
    case ImageFileKind::Tiff: return "TIFF";
    }
    return "";
}

}  // namespace

std::optional<ImageFileKind> imageFileKindFor(const std::string& fileName)
{
    const std::string ext = lower(extractExtension(fileName));
    if (ext == "bmp" || ext == "dib")
        return ImageFileKind::Bmp;
    if (ext == "png")
        return ImageFileKind::Png;
    if (ext == "jpg" || ext == "jpeg" || ext == "jpe")
        return ImageFileKind::Jpeg;
    if (ext == "tif" || ext == "tiff")
        return ImageFileKind::Tiff;
    return std::nullopt;
}

std::string imageLimitProblem(ImageFileKind kind, int64_t width, int64_t height, const std::string& fileName)
{
    const char* name = kindName(kind);
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX)
        return formatMessage("A %s file cannot hold a picture of %lld x %lld pixels (%s)", name,
                             static_cast<long long>(width), static_cast<long long>(height), fileName.c_str());
    if (kind == ImageFileKind::Bmp &&
        kBmpHeaderBytes + uint64_t(TDIB::widthBytesFor(int(width), 24)) * uint64_t(height) > UINT32_MAX)
        return formatMessage("A BMP file holds at most 4 GB; %lld x %lld pixels need more (%s)",
                             static_cast<long long>(width), static_cast<long long>(height), fileName.c_str());
    if (kind == ImageFileKind::Jpeg && (width > kJpegMaxSide || height > kJpegMaxSide))
        return formatMessage("A JPEG file holds at most %d pixels a side; %lld x %lld is larger (%s)", kJpegMaxSide,
                             static_cast<long long>(width), static_cast<long long>(height), fileName.c_str());
    return {};
}

std::unique_ptr<RowWriter> openRowWriter(const std::string& fileName, int width, int height,
                                         const ImageWriteOptions& options)
{
    const std::string problem = imageLimitProblem(options.kind, width, height, fileName);
    if (!problem.empty())
        throw EFCreateError(problem);
    switch (options.kind) {
    case ImageFileKind::Png: return std::make_unique<PngRowWriter>(fileName, width, height, options);
    case ImageFileKind::Jpeg: return std::make_unique<JpegRowWriter>(fileName, width, height, options);
    case ImageFileKind::Tiff: return std::make_unique<TiffRowWriter>(fileName, width, height, options);
    case ImageFileKind::Bmp: break;
    }
    return std::make_unique<BmpRowWriter>(fileName, width, height);
}

bool writeImageFile(const TDIB& dib, const std::string& fileName, const ImageWriteOptions& options,
                    const std::function<bool(int)>& progress)
{
    // a bitmap of another bit count, or none at all, is the raster's own
    // business; a 24-bit one streams through the writer, to the same bytes
    if (dib.IsEmpty() || (options.kind == ImageFileKind::Bmp && dib.BitCount() != 24)) {
        dib.WriteBmp(fileName);
        return true;
    }
    const TDIB* source = &dib;
    TDIB converted;
    if (dib.BitCount() != 24) {
        converted = dib;
        converted.ChangeBitCount(24);
        source = &converted;
    }
    const int height = source->Height();
    std::unique_ptr<RowWriter> writer = openRowWriter(fileName, source->Width(), height, options);
    constexpr int kBand = 64;
    const ptrdiff_t stride = -ptrdiff_t(source->WidthBytes());
    for (int y = 0; y < height; y += kBand) {
        if (progress && !progress(int(int64_t(y) * 100 / height)))
            return false;
        const int count = std::min(kBand, height - y);
        writer->writeRows(source->ScanLine(y), stride, count);
    }
    writer->finish();
    if (progress)
        progress(100);
    return true;
}

}  // namespace tsx
