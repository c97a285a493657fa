#include <gtest/gtest.h>

#include <dirent.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <spng.h>
#include <tiffio.h>

#include "imageio/row_writer.h"
#include "raster/byte_io.h"
#include "raster/errors.h"
#include "raster_test_support.h"

using namespace tsx;

namespace {

std::string tempPath(const std::string& name)
{
    return std::string(::testing::TempDir()) + "tsx_rows_" + name;
}

// Feeds the raster to a writer in bands of uneven heights, as a band render does.
void writeInBands(const TDIB& dib, const std::string& path, const ImageWriteOptions& options)
{
    auto writer = openRowWriter(path, dib.Width(), dib.Height(), options);
    const int bands[] = {5, 1, 17, 3};
    int y = 0;
    for (int k = 0; y < dib.Height(); ++k) {
        const int count = std::min(bands[k % 4], dib.Height() - y);
        writer->writeRows(dib.ScanLine(y), -ptrdiff_t(dib.WidthBytes()), count);
        y += count;
    }
    writer->finish();
}

// Blue, green, red of pixel (x, y).
std::vector<uint8_t> rgbRow(const TDIB& dib, int y)
{
    std::vector<uint8_t> rgb(size_t(dib.Width()) * 3);
    const uint8_t* p = dib.ScanLine(y);
    for (int x = 0; x < dib.Width(); ++x) {
        rgb[3 * x] = p[3 * x + 2];
        rgb[3 * x + 1] = p[3 * x + 1];
        rgb[3 * x + 2] = p[3 * x];
    }
    return rgb;
}

// Stripes of flat colour, which JPEG keeps nearly exactly.
TDIB flatStripes(int width, int height)
{
    TDIB dib;
    dib.Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = dib.RowPointer(y);
        const uint8_t shade = y < height / 2 ? 40 : 200;
        for (int x = 0; x < width; ++x) {
            p[3 * x] = shade;
            p[3 * x + 1] = uint8_t(x < width / 2 ? 90 : 160);
            p[3 * x + 2] = uint8_t(255 - shade);
        }
    }
    return dib;
}

struct JpegRead {
    int width = 0, height = 0;
    int sampling[3][2]{};
    int densityUnit = 0, xDensity = 0;
    std::vector<uint16_t> luma, chroma;
    std::vector<uint8_t> rgb;
};

struct JpegFailure {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

JpegRead readJpeg(const std::string& path)
{
    const std::vector<uint8_t> bytes = readWholeFile(path);
    JpegRead out;
    jpeg_decompress_struct cinfo{};
    JpegFailure err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegFailure*>(c->err)->jump, 1); };
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        ADD_FAILURE() << "not a JPEG file: " << path;
        return out;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    for (int c = 0; c < 3; ++c) {
        out.sampling[c][0] = cinfo.comp_info[c].h_samp_factor;
        out.sampling[c][1] = cinfo.comp_info[c].v_samp_factor;
    }
    out.densityUnit = cinfo.density_unit;
    out.xDensity = cinfo.X_density;
    out.luma.assign(cinfo.quant_tbl_ptrs[0]->quantval, cinfo.quant_tbl_ptrs[0]->quantval + DCTSIZE2);
    out.chroma.assign(cinfo.quant_tbl_ptrs[1]->quantval, cinfo.quant_tbl_ptrs[1]->quantval + DCTSIZE2);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out.width = int(cinfo.output_width);
    out.height = int(cinfo.output_height);
    out.rgb.resize(size_t(out.width) * out.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.rgb.data() + size_t(cinfo.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return out;
}

// The tables the library itself makes for a quality, in natural order.
std::vector<uint16_t> tableForQuality(int quality, int which)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    std::vector<uint16_t> table(cinfo.quant_tbl_ptrs[which]->quantval,
                                cinfo.quant_tbl_ptrs[which]->quantval + DCTSIZE2);
    jpeg_destroy_compress(&cinfo);
    return table;
}

std::vector<std::string> leftovers(const std::string& prefix)
{
    std::vector<std::string> found;
    const std::string dir = ::testing::TempDir();
    const std::string stem = prefix.substr(dir.size());
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.rfind(stem + ".tmp-", 0) == 0)
                found.push_back(name);
        }
        ::closedir(d);
    }
    return found;
}

}  // namespace

TEST(RowWriter, StreamedBmpIsByteIdenticalToWriteBmp)
{
    // odd widths give padded rows; the bands arrive top-down in uneven heights
    for (int width : {37, 40, 1}) {
        const TDIB dib = test::noise(width, 29, unsigned(width));
        const std::string whole = tempPath("whole.bmp"), streamed = tempPath("streamed.bmp");
        dib.WriteBmp(whole);
        writeInBands(dib, streamed, {});
        EXPECT_EQ(readWholeFile(streamed), readWholeFile(whole)) << "width " << width;

        // the picture-level entry point takes the very same road for BMP
        writeImageFile(dib, streamed, {});
        EXPECT_EQ(readWholeFile(streamed), readWholeFile(whole));
    }
}

TEST(RowWriter, PngReadsBackPixelForPixelWithItsResolution)
{
    const TDIB dib = test::noise(45, 31, 7);
    const std::string path = tempPath("noise.png");
    ImageWriteOptions options;
    options.kind = ImageFileKind::Png;
    options.dpi = 300;
    writeInBands(dib, path, options);

    const std::vector<uint8_t> bytes = readWholeFile(path);
    spng_ctx* ctx = spng_ctx_new(0);
    ASSERT_EQ(spng_set_png_buffer(ctx, bytes.data(), bytes.size()), 0);
    spng_ihdr ihdr{};
    ASSERT_EQ(spng_get_ihdr(ctx, &ihdr), 0);
    EXPECT_EQ(ihdr.width, 45u);
    EXPECT_EQ(ihdr.height, 31u);
    EXPECT_EQ(ihdr.color_type, SPNG_COLOR_TYPE_TRUECOLOR);
    spng_phys phys{};
    ASSERT_EQ(spng_get_phys(ctx, &phys), 0);
    EXPECT_EQ(phys.unit_specifier, 1);  // per metre
    EXPECT_EQ(phys.ppu_x, 11811u);  // 300 per inch
    std::vector<uint8_t> rgb(45 * 31 * 3);
    ASSERT_EQ(spng_decode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_RGB8, 0), 0);
    spng_ctx_free(ctx);
    for (int y = 0; y < 31; ++y)
        ASSERT_EQ(std::vector<uint8_t>(rgb.begin() + y * 135, rgb.begin() + (y + 1) * 135), rgbRow(dib, y))
            << "row " << y;
}

TEST(RowWriter, JpegRecordsQualitySamplingAndDensity)
{
    const TDIB dib = flatStripes(64, 48);
    const std::string path = tempPath("stripes.jpg");
    ImageWriteOptions options;
    options.kind = ImageFileKind::Jpeg;
    writeInBands(dib, path, options);

    JpegRead read = readJpeg(path);
    ASSERT_EQ(read.width, 64);
    ASSERT_EQ(read.height, 48);
    // quality 92 unless told otherwise, every component at full resolution
    EXPECT_EQ(read.luma, tableForQuality(92, 0));
    EXPECT_EQ(read.chroma, tableForQuality(92, 1));
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(read.sampling[c][0], 1) << c;
        EXPECT_EQ(read.sampling[c][1], 1) << c;
    }
    // flat areas come back within a few levels
    int worst = 0;
    for (int y = 0; y < 48; ++y) {
        const std::vector<uint8_t> want = rgbRow(dib, y);
        for (int i = 0; i < 64 * 3; ++i)
            worst = std::max(worst, std::abs(int(read.rgb[size_t(y) * 64 * 3 + i]) - int(want[i])));
    }
    EXPECT_LE(worst, 12);

    options.jpegQuality = 60;
    options.jpegSubsampled = true;
    options.dpi = 254;
    writeInBands(dib, path, options);
    read = readJpeg(path);
    EXPECT_EQ(read.luma, tableForQuality(60, 0));
    EXPECT_EQ(read.sampling[0][0], 2);
    EXPECT_EQ(read.sampling[1][0], 1);
    EXPECT_EQ(read.densityUnit, 1);
    EXPECT_EQ(read.xDensity, 254);
}

TEST(RowWriter, TiffEveryCompressionReadsBackWithResolutionTags)
{
    TIFFSetWarningHandler(nullptr);
    const TDIB dib = test::noise(53, 40, 11);
    const std::pair<TiffCompression, uint16_t> kinds[] = {{TiffCompression::None, COMPRESSION_NONE},
                                                          {TiffCompression::Deflate, COMPRESSION_ADOBE_DEFLATE},
                                                          {TiffCompression::Lzw, COMPRESSION_LZW}};
    for (const auto& [compression, tag] : kinds) {
        const std::string path = tempPath("noise.tif");
        ImageWriteOptions options;
        options.kind = ImageFileKind::Tiff;
        options.tiffCompression = compression;
        options.dpi = 150;
        writeInBands(dib, path, options);

        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        uint32_t width = 0, height = 0;
        uint16_t stored = 0, unit = 0, samples = 0;
        float xres = 0, yres = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &stored);
        TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres));
        ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres));
        TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
        EXPECT_EQ(width, 53u);
        EXPECT_EQ(height, 40u);
        EXPECT_EQ(stored, tag);
        EXPECT_EQ(samples, 3);
        EXPECT_FLOAT_EQ(xres, 150.f);
        EXPECT_FLOAT_EQ(yres, 150.f);
        EXPECT_EQ(unit, RESUNIT_INCH);
        std::vector<uint8_t> row(size_t(TIFFScanlineSize(tif)));
        for (uint32_t y = 0; y < height; ++y) {
            ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, 0), 1);
            ASSERT_EQ(row, rgbRow(dib, int(y))) << "row " << y;
        }
        TIFFClose(tif);
    }
}

TEST(RowWriter, FailuresLeaveTheOldFileAndNoTemporaryFile)
{
    const TDIB dib = test::noise(20, 10, 3);
    for (ImageFileKind kind : {ImageFileKind::Bmp, ImageFileKind::Png, ImageFileKind::Jpeg, ImageFileKind::Tiff}) {
        const std::string path = tempPath("kept.out");
        writeWholeFile(path, {'o', 'l', 'd'});
        ImageWriteOptions options;
        options.kind = kind;
        {
            // a render that fails halfway drops its writer
            auto writer = openRowWriter(path, 20, 10, options);
            writer->writeRows(dib.ScanLine(0), -ptrdiff_t(dib.WidthBytes()), 4);
            EXPECT_THROW(writer->finish(), EWriteError);  // rows are missing
        }
        EXPECT_EQ(readWholeFile(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
        EXPECT_TRUE(leftovers(path).empty());

        try {
            openRowWriter("/nonexistent-folder/x.out", 20, 10, options);
            ADD_FAILURE() << "no error";
        } catch (const EFCreateError& e) {
            EXPECT_STREQ(e.what(), "Cannot create file /nonexistent-folder/x.out");
        }
    }

    // limits are told before a file is begun, naming it
    EXPECT_EQ(imageLimitProblem(ImageFileKind::Jpeg, 65535, 100, "a.jpg"), "");
    EXPECT_EQ(imageLimitProblem(ImageFileKind::Jpeg, 65536, 100, "a.jpg"),
              "A JPEG file holds at most 65535 pixels a side; 65536 x 100 is larger (a.jpg)");
    EXPECT_EQ(imageLimitProblem(ImageFileKind::Bmp, 20480, 20480, "a.bmp"), "");
    EXPECT_NE(imageLimitProblem(ImageFileKind::Bmp, 40960, 40960, "a.bmp"), "");
    EXPECT_EQ(imageLimitProblem(ImageFileKind::Tiff, 40960, 40960, "a.tif"), "");
    EXPECT_THROW(openRowWriter(tempPath("big.jpg"), 70000, 10, {ImageFileKind::Jpeg}), EFCreateError);

    EXPECT_EQ(imageFileKindFor("x/Poster.TIFF"), ImageFileKind::Tiff);
    EXPECT_EQ(imageFileKindFor("a.jpe"), ImageFileKind::Jpeg);
    EXPECT_EQ(imageFileKindFor("a.dib"), ImageFileKind::Bmp);
    EXPECT_EQ(imageFileKindFor("a.gif"), std::nullopt);
}
