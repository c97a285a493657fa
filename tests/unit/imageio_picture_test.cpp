#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "imageio/formats.h"
#include "imageio/graphics.h"
#include "imageio/picture.h"
#include "raster/byte_io.h"
#include "raster/errors.h"

using namespace tsx;

namespace {

std::string temp(const std::string& name) { return std::string(::testing::TempDir()) + "tsx_pic_" + name; }

// A JPEG made with libjpeg's compressor: a gradient, in colour or grey.
std::vector<uint8_t> makeJpeg(int w, int h, bool grey, int quality = 95)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = grey ? 1 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(w) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < w; ++x) {
            if (grey) {
                row[size_t(x)] = uint8_t(x * 4);
            } else {
                row[size_t(3 * x)] = uint8_t(200);  // red
                row[size_t(3 * x + 1)] = uint8_t(y * 2);
                row[size_t(3 * x + 2)] = uint8_t(40);
            }
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> out(buffer, buffer + size);
    free(buffer);
    return out;
}

std::vector<uint8_t> tinyBmp(uint8_t b, uint8_t g, uint8_t r)
{
    std::vector<uint8_t> out;
    ByteWriter w(out);
    w.u8('B');
    w.u8('M');
    w.zeros(12);
    w.u32le(40);
    w.i32le(1);
    w.i32le(1);
    w.u16le(1);
    w.u16le(24);
    w.zeros(24);
    const uint8_t px[4] = {b, g, r, 0};
    w.bytes(px, 4);
    return out;
}

template <class E>
std::string loadError(const std::string& path, TPicture& picture)
{
    try {
        LoadPicture(path, picture);
    } catch (const E& e) {
        return e.what();
    }
    return "(loaded)";
}

}  // namespace

TEST(FormatRegistry, AllEntriesInOrderAndNewestWins)
{
    const auto& entries = fileFormats().Entries();
    // the classic 35, then the photo formats of newer libraries
    ASSERT_EQ(entries.size(), 40u);
    const char* order[] = {"wmf", "emf", "ico", "bmp", "dib", "jpeg", "jpg", "win", "vst", "vda", "tiff", "tif",
                           "tga", "sgi", "scr", "rpf", "rle", "rla", "rgba", "rgb", "psd", "ppm", "pgm", "pbm",
                           "pic", "pcx", "pdd", "pcd", "pcc", "icb", "gif", "dib", "cut", "cel", "bw"};
    for (size_t i = 0; i < 35; ++i)
        EXPECT_EQ(entries[i].extension, order[i]) << i;
    EXPECT_EQ(entries[4].className, "TDIB");
    EXPECT_EQ(entries[4].description, "Device Independent Bitmap");
    EXPECT_EQ(fileFormats().Find("DIB")->className, "TBitmap");
    EXPECT_EQ(fileFormats().Find("Jpg")->className, "TJPEGImage");
    EXPECT_EQ(fileFormats().Find("jxl"), nullptr);
    EXPECT_EQ(fileFormats().Find(""), nullptr);

    EXPECT_EQ(extractExtension("/home/a/photo.JPG"), "JPG");
    EXPECT_EQ(extractExtension("/home/a/old.photos/image"), "");
    EXPECT_EQ(extractExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(extractExtension("name."), "");
}

TEST(LoadPicture, ExtensionsAndTheirErrors)
{
    TPicture picture;
    EXPECT_EQ(loadError<EInvalidGraphic>("/tmp/old.photos/image", picture), "Unknown picture file extension (.)");
    EXPECT_EQ(loadError<EInvalidGraphic>("/tmp/image.jxl", picture), "Unknown picture file extension (.jxl)");
    EXPECT_EQ(loadError<EInvalidGraphic>("/tmp/image.JXL", picture), "Unknown picture file extension (.JXL)");
    EXPECT_EQ(loadError<EFOpenError>("/nonexistent/a.bmp", picture), "Cannot open file /nonexistent/a.bmp");

    // a .dib file holding an ordinary BMP, and upper-case extensions
    const std::string dib = temp("blue.DIB");
    writeWholeFile(dib, tinyBmp(255, 0, 0));
    LoadPicture(dib, picture);
    ASSERT_EQ(picture.Width(), 1);
    EXPECT_STREQ(picture.Graphic()->ClassName(), "TBitmap");
    EXPECT_EQ(picture.Bitmap().Dib().ScanLine(0)[0], 255);

    // an empty .bmp is an empty picture, an icon too
    const std::string empty = temp("empty.bmp");
    writeWholeFile(empty, {});
    LoadPicture(empty, picture);
    EXPECT_EQ(picture.Width(), 0);
    const std::string icon = temp("x.ico");
    writeWholeFile(icon, {0, 0, 1, 0, 1, 0});
    LoadPicture(icon, picture);
    EXPECT_EQ(picture.Width(), 0);
    EXPECT_TRUE(picture.Graphic()->IsBitmap());

    for (const std::string& f : {dib, empty, icon})
        std::remove(f.c_str());
}

TEST(LoadPicture, FailureKeepsThePreviousPicture)
{
    TPicture picture;
    const std::string good = temp("good.bmp");
    writeWholeFile(good, tinyBmp(1, 2, 3));
    LoadPicture(good, picture);
    const TGraphic* before = picture.Graphic();

    const std::string badBmp = temp("bad.bmp");
    writeWholeFile(badBmp, {'X', 'Y', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(loadError<EInvalidGraphic>(badBmp, picture), "Bitmap image is not valid");
    EXPECT_EQ(picture.Graphic(), before);

    // a JPEG whose header reads but whose data does not decode
    std::vector<uint8_t> jpeg = makeJpeg(64, 64, false);
    for (size_t i = jpeg.size() / 2; i < jpeg.size() - 2; ++i)
        jpeg[i] = 0xFF;
    jpeg[jpeg.size() / 2 + 1] = 0xC4;  // a marker where the scan data was
    const std::string badJpeg = temp("bad.jpg");
    writeWholeFile(badJpeg, jpeg);
    const std::string text = loadError<EJPEG>(badJpeg, picture);
    EXPECT_EQ(text.rfind("JPEG error #", 0), 0u) << text;
    EXPECT_EQ(picture.Graphic(), before);
    EXPECT_EQ(picture.Bitmap().Dib().ScanLine(0)[2], 3);

    const std::string notJpeg = temp("text.jpeg");
    writeWholeFile(notJpeg, {'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(loadError<EJPEG>(notJpeg, picture).rfind("JPEG error #", 0), 0u);
    EXPECT_EQ(picture.Graphic(), before);

    for (const std::string& f : {good, badBmp, badJpeg, notJpeg})
        std::remove(f.c_str());
}

TEST(LoadPicture, JpegColourAndGreyDecodeTo24Bits)
{
    TPicture picture;
    const std::string colour = temp("colour.JPG");
    writeWholeFile(colour, makeJpeg(40, 30, false));
    LoadPicture(colour, picture);
    ASSERT_EQ(picture.Width(), 40);
    ASSERT_EQ(picture.Height(), 30);
    const TDIB& c = picture.Bitmap().Dib();
    EXPECT_EQ(c.BitCount(), 24);
    const uint8_t* p = c.ScanLine(20) + 3 * 10;
    EXPECT_NEAR(p[2], 200, 4);  // stored blue, green, red
    EXPECT_NEAR(p[1], 40, 4);
    EXPECT_NEAR(p[0], 40, 4);

    const std::string grey = temp("grey.jpg");
    writeWholeFile(grey, makeJpeg(64, 8, true));
    LoadPicture(grey, picture);
    const TDIB& g = picture.Bitmap().Dib();
    ASSERT_EQ(g.BitCount(), 24);
    int worst = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 64; ++x) {
            const uint8_t* q = g.ScanLine(y) + 3 * x;
            ASSERT_EQ(q[0], q[1]);
            ASSERT_EQ(q[1], q[2]);
            worst = std::max(worst, std::abs(int(q[0]) - x * 4));
        }
    EXPECT_LE(worst, 8);  // 236 grey levels, dithered

    TJPEGImage header;
    const std::vector<uint8_t> bytes = makeJpeg(17, 9, true);
    header.LoadFromMemory(bytes.data(), bytes.size());
    EXPECT_EQ(header.Width(), 17);
    EXPECT_TRUE(header.Grayscale());
    EXPECT_FALSE(header.ProgressiveEncoding());
    std::remove(colour.c_str());
    std::remove(grey.c_str());
}

TEST(DibAssign, FromPicturesAndGraphics)
{
    TDIB dib;
    dib.Allocate(24, 24, 24);
    dib.RowPointer(0)[0] = 9;
    TBitmap emptyBitmap;
    dib.AssignFrom(static_cast<const TGraphic*>(&emptyBitmap));
    EXPECT_EQ(dib.Width(), 24);  // an empty bitmap leaves the raster alone
    EXPECT_EQ(dib.ScanLine(0)[0], 9);

    TPicture picture;
    picture.Bitmap().Dib().Allocate(2, 2, 24);
    picture.Bitmap().Dib().RowPointer(1)[0] = 5;
    dib.AssignFrom(picture.Graphic());
    EXPECT_EQ(dib.Width(), 2);
    EXPECT_EQ(dib.ScanLine(1)[0], 5);

    TPicture none;
    dib.AssignFrom(none.Graphic());
    EXPECT_TRUE(dib.IsEmpty());

    // a JPEG graphic is drawn into a 24-bit raster of its size
    TJPEGImage jpeg;
    const std::vector<uint8_t> bytes = makeJpeg(8, 8, true);
    jpeg.LoadFromMemory(bytes.data(), bytes.size());
    dib.AssignFrom(static_cast<const TGraphic*>(&jpeg));
    EXPECT_EQ(dib.Width(), 8);
    EXPECT_EQ(dib.BitCount(), 24);
}
