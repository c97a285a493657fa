#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imageio/exif.h"
#include "imageio/formats.h"
#include "imageio/graphics.h"
#include "imageio/photo_graphics.h"
#include "imageio/picture.h"
#include "raster/byte_io.h"
#include "raster/errors.h"
#include "decoders_support.h"
#include "photo_support.h"

using namespace tsx;
using namespace tsx::photos;

namespace {

std::string temp(const std::string& name) { return std::string(::testing::TempDir()) + "tsx_photo_" + name; }

std::string saved(const std::string& name, const Bytes& bytes)
{
    const std::string path = temp(name);
    writeWholeFile(path, bytes);
    return path;
}

// blue, green, red of pixel (x, y) of a 24-bit raster
std::vector<int> bgr(const TDIB& dib, int x, int y)
{
    const uint8_t* p = dib.ScanLine(y) + size_t(x) * 3;
    return {p[0], p[1], p[2]};
}

// A picture whose every pixel is different: red = x * 40, green = y * 40.
Rgba corners(int w, int h)
{
    Rgba img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = img.at(x, y);
            p[0] = uint8_t(x * 40);
            p[1] = uint8_t(y * 40);
            p[2] = 7;
            p[3] = 255;
        }
    return img;
}

TDIB loaded(const std::string& path)
{
    TPicture picture;
    LoadPicture(path, picture);
    return picture.Bitmap().Dib();
}

}  // namespace

TEST(PhotoFormats, RegisteredAfterEveryOlderEntry)
{
    const auto& entries = fileFormats().Entries();
    ASSERT_EQ(entries.size(), 40u);
    EXPECT_EQ(entries[34].extension, "bw");
    const char* expected[] = {"png", "webp", "heic", "heif", "avif"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(entries[size_t(35 + i)].extension, expected[i]);
    EXPECT_STREQ(fileFormats().Find("PNG")->create()->ClassName(), "TPNGGraphic");
    EXPECT_STREQ(fileFormats().Find("Heic")->create()->ClassName(), "THEIFGraphic");
    EXPECT_STREQ(fileFormats().Find("avif")->create()->ClassName(), "THEIFGraphic");
}

TEST(PngReader, EveryColourTypeEndsAs24BitsOnWhite)
{
    // alpha: opaque, transparent and half-covered pixels laid over white
    Rgba rgba(3, 1);
    const uint8_t px[3][4] = {{200, 100, 50, 255}, {10, 20, 30, 0}, {0, 0, 0, 128}};
    for (int x = 0; x < 3; ++x)
        std::memcpy(rgba.at(x, 0), px[x], 4);
    TDIB dib = loaded(saved("alpha.png", rgbaPng(rgba)));
    ASSERT_EQ(dib.BitCount(), 24);
    EXPECT_EQ(bgr(dib, 0, 0), (std::vector<int>{50, 100, 200}));
    EXPECT_EQ(bgr(dib, 1, 0), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(bgr(dib, 2, 0), (std::vector<int>{127, 127, 127}));

    // 16-bit samples keep their high byte, whatever the low byte
    // (the encoder takes 16-bit samples in host order)
    const uint16_t samples[6] = {0x12FF, 0x3400, 0xAB80, 0x0001, 0xFFFE, 0x8000};
    Bytes wide(sizeof samples);
    std::memcpy(wide.data(), samples, sizeof samples);
    dib = loaded(saved("wide.png", encodePng({2, 1, 16, SPNG_COLOR_TYPE_TRUECOLOR, 0, 0, 0}, wide)));
    EXPECT_EQ(bgr(dib, 0, 0), (std::vector<int>{0xAB, 0x34, 0x12}));
    EXPECT_EQ(bgr(dib, 1, 0), (std::vector<int>{0x80, 0xFF, 0x00}));

    // a 2-bit palette picture takes its entries' colours
    spng_plte plte{};
    plte.n_entries = 3;
    plte.entries[0] = {255, 0, 0, 0};
    plte.entries[1] = {0, 255, 0, 0};
    plte.entries[2] = {0, 0, 255, 0};
    dib = loaded(saved("palette.png", encodePng({3, 1, 2, SPNG_COLOR_TYPE_INDEXED, 0, 0, 0}, {0b00011000}, &plte)));
    EXPECT_EQ(bgr(dib, 0, 0), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(bgr(dib, 1, 0), (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(bgr(dib, 2, 0), (std::vector<int>{255, 0, 0}));

    // grey expands to three equal bytes
    dib = loaded(saved("grey.png", encodePng({2, 1, 8, SPNG_COLOR_TYPE_GRAYSCALE, 0, 0, 0}, {0, 90})));
    EXPECT_EQ(bgr(dib, 1, 0), (std::vector<int>{90, 90, 90}));
}

TEST(WebPReader, StillLossyAndTheFirstFrameOfAnAnimation)
{
    Rgba img = corners(5, 4);
    img.at(4, 3)[3] = 0;  // one transparent pixel
    TDIB dib = loaded(saved("still.webp", webp(img)));
    ASSERT_EQ(dib.Width(), 5);
    EXPECT_EQ(bgr(dib, 3, 2), (std::vector<int>{7, 80, 120}));
    EXPECT_EQ(bgr(dib, 4, 3), (std::vector<int>{255, 255, 255}));

    Rgba flat(16, 16);
    for (int i = 0; i < 16 * 16; ++i)
        std::memcpy(flat.pixels.data() + size_t(i) * 4, "\x40\x80\xC0\xFF", 4);
    dib = loaded(saved("lossy.webp", webp(flat, 90)));
    EXPECT_NEAR(bgr(dib, 8, 8)[0], 0xC0, 3);
    EXPECT_NEAR(bgr(dib, 8, 8)[2], 0x40, 3);

    Rgba red(4, 4), blue(4, 4);
    for (int i = 0; i < 16; ++i) {
        std::memcpy(red.pixels.data() + size_t(i) * 4, "\xFF\x00\x00\xFF", 4);
        std::memcpy(blue.pixels.data() + size_t(i) * 4, "\x00\x00\xFF\xFF", 4);
    }
    dib = loaded(saved("anim.webp", animatedWebp({red, blue})));
    EXPECT_EQ(bgr(dib, 2, 2), (std::vector<int>{0, 0, 255}));
}

TEST(HeifReader, HeicAndAvifDecodeNearTheirColours)
{
    // 64 x 48, red left half and blue right half, made once with libheif's
    // encoders (which leak inside themselves, so the tests do not run them)
    for (const char* name : {"two_colours.heic", "two_colours.avif"}) {
        const TDIB dib = loaded(std::string(TESSERIX_SOURCE_DIR) + "/tests/data/" + name);
        ASSERT_EQ(dib.Width(), 64) << name;
        ASSERT_EQ(dib.Height(), 48) << name;
        EXPECT_NEAR(bgr(dib, 8, 24)[2], 0xE0, 12) << name;
        EXPECT_NEAR(bgr(dib, 8, 24)[0], 0x30, 12) << name;
        EXPECT_NEAR(bgr(dib, 56, 24)[0], 0xE0, 12) << name;
        EXPECT_NEAR(bgr(dib, 56, 24)[2], 0x30, 12) << name;
    }
}

TEST(PhotoReaders, DamagedFilesNameTheirFormatAndKeepThePicture)
{
    Rgba img = corners(6, 6);
    Bytes png = rgbaPng(img);
    Bytes webpFile = webp(img);
    const struct {
        const char* name;
        Bytes bytes;
        const char* prefix;
    } cases[] = {
        {"cut.png", Bytes(png.begin(), png.begin() + ptrdiff_t(png.size() / 2)), "PNG: "},
        {"garbage.png", Bytes(100, 0x42), "PNG: "},
        {"empty.png", Bytes(), "PNG: "},
        {"cut.webp", Bytes(webpFile.begin(), webpFile.begin() + 30), "WebP: "},
        {"garbage.webp", Bytes(64, 0x00), "WebP: "},
        {"garbage.heic", Bytes(200, 0x11), "HEIF: "},
        {"empty.avif", Bytes(), "HEIF: "},
    };
    for (const auto& c : cases) {
        TPicture picture;
        LoadPicture(saved("keep.png", png), picture);
        try {
            LoadPicture(saved(c.name, c.bytes), picture);
            ADD_FAILURE() << c.name << " loaded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.prefix, 0), 0u) << c.name << ": " << e.what();
        }
        EXPECT_EQ(picture.Width(), 6) << c.name;
    }
    // a header asking for far more pixels than the file could hold
    Bytes forged = png;
    forged[16] = 0x00, forged[17] = 0x00, forged[18] = 0x40, forged[19] = 0x00;  // width 16384
    EXPECT_THROW(loaded(saved("forged.png", forged)), EInvalidGraphic);
}

TEST(ExifOrientation, ReadsIfd0AndIgnoresWhatItCannotTrust)
{
    for (int o = 1; o <= 8; ++o) {
        EXPECT_EQ(exifOrientation(exifBlock(o)), o);
        EXPECT_EQ(exifOrientation(exifBlock(o, true, true)), o);
    }
    EXPECT_EQ(exifOrientation(exifBlock(9)), 1);
    EXPECT_EQ(exifOrientation(exifBlock(0)), 1);
    EXPECT_EQ(exifOrientation({}), 1);
    Bytes block = exifBlock(6);
    EXPECT_EQ(exifOrientation(std::span(block).first(block.size() - 10)), 1);  // cut inside the entry
    // a count far past the block's end, and no orientation entry to stop at
    Bytes hugeCount = block;
    hugeCount[8] = 0xFF, hugeCount[9] = 0xFF;
    hugeCount[22] = 0x13;
    EXPECT_EQ(exifOrientation(hugeCount), 1);
    Bytes farIfd = block;
    farIfd[4] = farIfd[5] = farIfd[6] = farIfd[7] = 0xFF;
    EXPECT_EQ(exifOrientation(farIfd), 1);
    Bytes wrongType = block;
    wrongType[24] = 4;  // LONG instead of SHORT
    EXPECT_EQ(exifOrientation(wrongType), 1);
}

TEST(ExifOrientation, AllEightTurnsShowThePictureUpright)
{
    // the upright picture is 3 wide and 2 high; each stored form is what a
    // camera writes for its orientation, and turning it must give it back
    TDIB upright;
    upright.Allocate(3, 2, 24);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            upright.RowPointer(y)[x * 3] = uint8_t(10 * y + x);
    auto at = [](const TDIB& d, int x, int y) { return int(d.ScanLine(y)[x * 3]); };
    for (int o = 1; o <= 8; ++o) {
        const bool swap = o >= 5;
        TDIB stored;
        stored.Allocate(swap ? 2 : 3, swap ? 3 : 2, 24);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                // where upright (x, y) lies in the stored picture
                int sx = x, sy = y;
                switch (o) {
                case 2: sx = 2 - x; break;
                case 3: sx = 2 - x; sy = 1 - y; break;
                case 4: sy = 1 - y; break;
                case 5: sx = y; sy = x; break;
                case 6: sx = y; sy = 2 - x; break;
                case 7: sx = 1 - y; sy = 2 - x; break;
                case 8: sx = 1 - y; sy = x; break;
                }
                stored.RowPointer(sy)[sx * 3] = uint8_t(at(upright, x, y));
            }
        const TDIB turned = orientRaster(stored, o);
        ASSERT_EQ(turned.Width(), 3) << o;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(at(turned, x, y), 10 * y + x) << "orientation " << o;
    }
}

TEST(ExifOrientation, EveryFormatIsTurnedOnLoad)
{
    // stored lying on its side (orientation 6): 4 wide, 6 high once upright
    const Rgba stored = corners(6, 4);
    const Bytes exif = exifBlock(6);
    Bytes strip;
    for (size_t i = 0; i < stored.pixels.size(); i += 4)
        strip.insert(strip.end(), stored.pixels.begin() + ptrdiff_t(i), stored.pixels.begin() + ptrdiff_t(i + 3));
    const Bytes tiff = tsx::testing::makeTiff(
        true, {{256, 3, {6}}, {257, 3, {4}}, {258, 3, {8, 8, 8}}, {262, 3, {2}}, {274, 3, {6}}, {277, 3, {3}}},
        {strip});
    const std::pair<const char*, Bytes> files[] = {
        {"turned.tif", tiff},
        {"turned.png", rgbaPng(stored, &exif)},
        {"turned.webp", webpWithExif(stored, exif)},
        {"turned.jpg", jpeg(stored, 100, &exif, false, false)},
    };
    for (const auto& [name, bytes] : files) {
        const TDIB dib = loaded(saved(name, bytes));
        ASSERT_EQ(dib.Width(), 4) << name;
        ASSERT_EQ(dib.Height(), 6) << name;
        // upright (0, 0) is stored (0, 3): red 0, green 120
        EXPECT_NEAR(bgr(dib, 0, 0)[1], 120, 6) << name;
        EXPECT_NEAR(bgr(dib, 0, 0)[2], 0, 6) << name;
        // upright (3, 5) is stored (5, 0): red 200, green 0
        EXPECT_NEAR(bgr(dib, 3, 5)[2], 200, 6) << name;
    }
    // an unreadable block leaves the picture as stored
    Bytes broken = exif;
    broken[2] = 0;
    EXPECT_EQ(loaded(saved("broken.png", rgbaPng(stored, &broken))).Width(), 6);
}

namespace {

// A detailed picture, so that any row or column taken wrongly shows.
Rgba busy(int w, int h)
{
    Rgba img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = img.at(x, y);
            p[0] = uint8_t((x * 7 + y * 3) ^ (y * 5));
            p[1] = uint8_t((x * x + y) * 3);
            p[2] = uint8_t(x * 255 / w);
        }
    return img;
}

std::vector<uint8_t> rasterBytes(const TDIB& dib)
{
    std::vector<uint8_t> out;
    for (int y = 0; y < dib.Height(); ++y)
        out.insert(out.end(), dib.ScanLine(y), dib.ScanLine(y) + dib.Width() * 3);
    return out;
}

}  // namespace

TEST(JpegSample, RowSkippingGivesExactlyTheFullDecodesSample)
{
    struct Case {
        int w, h;
        bool progressive, subsample;
        int orientation;
    };
    const Case cases[] = {
        {333, 251, false, true, 1}, {333, 251, true, true, 1}, {257, 199, false, false, 1},
        {257, 199, true, false, 1}, {17, 15, false, true, 1},  {1021, 37, true, true, 1},
        {301, 203, false, true, 6}, {301, 203, true, false, 3}, {123, 457, false, true, 8},
        {8, 9, true, true, 5},
    };
    for (const Case& c : cases) {
        const Bytes exif = exifBlock(c.orientation);
        const std::string path = saved("sample.jpg", jpeg(busy(c.w, c.h), 85, &exif, c.progressive, c.subsample));
        const std::string where = std::to_string(c.w) + "x" + std::to_string(c.h) + (c.progressive ? " progressive" : "")
            + (c.subsample ? " 4:2:0" : " 4:4:4") + " orientation " + std::to_string(c.orientation);
        const TDIB full = loaded(path);
        for (const int side : {16, 7}) {
            TDIB expected;
            expected.Allocate(side, side, 24);
            stretchNearest(full, TRect{0, 0, full.Width(), full.Height()}, expected, TRect{0, 0, side, side});
            TDIB sample;
            ASSERT_TRUE(LoadPictureSample(path, side, side, sample)) << where;
            EXPECT_EQ(rasterBytes(sample), rasterBytes(expected)) << where << ", sample " << side;
        }
    }
    // grey files and other formats take the whole picture and agree as well
    const std::string png = saved("sample.png", rgbaPng(busy(40, 30)));
    TDIB sample;
    ASSERT_TRUE(LoadPictureSample(png, 16, 16, sample));
    TDIB expected;
    expected.Allocate(16, 16, 24);
    const TDIB full = loaded(png);
    stretchNearest(full, TRect{0, 0, 40, 30}, expected, TRect{0, 0, 16, 16});
    EXPECT_EQ(rasterBytes(sample), rasterBytes(expected));
    EXPECT_FALSE(LoadPictureSample(saved("empty.jpg", {}), 16, 16, sample));
    EXPECT_THROW(LoadPictureSample(saved("bad.jpg", {0xFF, 0xD8, 0xFF, 0x00}), 16, 16, sample), EJPEG);
}

// The row-skipping pass collects the 1/8 picture from the blocks it decodes
// anyway; it must be libjpeg's own 1/8 decode, byte for byte, or the cell
// pictures a folder load keeps would differ from the ones a render makes.
TEST(JpegSample, ThePassGivesLibjpegsEighthDecode)
{
    struct Case {
        int w, h, quality;
        JpegLayout layout;
    };
    const Case cases[] = {
        {333, 251, 85, {}},          {257, 199, 98, {1, 1}},     {301, 203, 50, {2, 1}},
        {123, 457, 90, {1, 2}},      {1021, 37, 95, {2, 2, false, 2}}, {17, 15, 90, {}},
        {8, 9, 90, {1, 1}},          {640, 480, 75, {2, 1, false, 1}},
    };
    for (const Case& c : cases) {
        const std::string where = std::to_string(c.w) + "x" + std::to_string(c.h) + " luma "
            + std::to_string(c.layout.lumaH) + "x" + std::to_string(c.layout.lumaV) + " q" + std::to_string(c.quality);
        TJPEGImage image;
        image.LoadFromFile(saved("eighth.jpg", jpegLaidOut(busy(c.w, c.h), c.quality, nullptr, c.layout)));
        TDIB sample, eighth;
        ASSERT_TRUE(image.SampleInto(sample, 16, 16, &eighth)) << where;
        TBitmap expected;
        image.DecodeInto(expected, 1);
        ASSERT_FALSE(eighth.IsEmpty()) << where;
        EXPECT_EQ(eighth.Width(), expected.Dib().Width()) << where;
        EXPECT_EQ(rasterBytes(eighth), rasterBytes(expected.Dib())) << where;
    }
    // what the pass cannot see whole gives no 1/8 picture, and still its sample
    JpegLayout progressive;
    progressive.progressive = true;
    const Bytes whole = jpegLaidOut(busy(200, 150), 90, nullptr, {});
    const Bytes truncated(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() * 2 / 3));
    for (const Bytes& bytes : {jpegLaidOut(busy(200, 150), 90, nullptr, progressive), truncated}) {
        TJPEGImage image;
        image.LoadFromFile(saved("partial.jpg", bytes));
        TDIB sample, eighth;
        EXPECT_TRUE(image.SampleInto(sample, 16, 16, &eighth));
        EXPECT_TRUE(eighth.IsEmpty());
    }
    // and real files from elsewhere agree wherever it gives one
    for (const char* name : {"pillow/jpeg/hopper.jpg", "pillow/jpeg/pil_sample_rgb.jpg",
                             "pillow/jpeg/hopper_16bit_qtables.jpg", "bmpsuite/reference/rgb24.jpg"}) {
        const std::string path = std::string(TESSERIX_SOURCE_DIR "/../shared/testdata/formats/") + name;
        if (!std::filesystem::exists(path))
            GTEST_SKIP() << "the shared format test files are not here: " << path;
        TJPEGImage image;
        image.LoadFromFile(path);
        TDIB sample, eighth;
        if (!image.SampleInto(sample, 16, 16, &eighth) || eighth.IsEmpty())
            continue;
        TBitmap expected;
        image.DecodeInto(expected, 1);
        EXPECT_EQ(rasterBytes(eighth), rasterBytes(expected.Dib())) << name;
    }
}

TEST(JpegCovering, DecodesAtTheSmallestEighthThatStillCoversTheCell)
{
    const std::string path = saved("cover.jpg", jpeg(busy(800, 600), 90));
    struct Case {
        int cw, ch, width, height;
    };
    // 1/8 is 100 x 75; 3/8 is 300 x 225; a cell larger than the picture gets it whole
    const Case cases[] = {{32, 32, 100, 75}, {100, 75, 100, 75}, {101, 32, 200, 150},
                          {32, 200, 300, 225}, {900, 10, 800, 600}};
    for (const Case& c : cases) {
        TPicture picture;
        LoadPictureCovering(path, picture, c.cw, c.ch);
        EXPECT_EQ(picture.Width(), c.width) << c.cw << "x" << c.ch;
        EXPECT_EQ(picture.Height(), c.height) << c.cw << "x" << c.ch;
    }
    // a turned picture covers the cell upright: 600 x 800 once turned
    const Bytes exif = exifBlock(6);
    const std::string turned = saved("cover6.jpg", jpeg(busy(800, 600), 90, &exif));
    TPicture picture;
    LoadPictureCovering(turned, picture, 80, 101);
    EXPECT_EQ(picture.Width(), 150);
    EXPECT_EQ(picture.Height(), 200);
}
