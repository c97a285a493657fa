// Each format from small files built byte by byte: the variants the public
// suites lack (byte-order twins, both row orders, with and without palettes)
// and headers that must be refused before anything is allocated.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "imageio/decoders/graphics.h"
#include "imageio/formats.h"
#include "raster/errors.h"
#include "tests/unit/decoders_support.h"

namespace tsx {
namespace {

using testing::ByteBuilder;
using testing::Bytes;

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Rgb& c)
{
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// The picture as LoadPicture leaves it: widened to 24 bits, row by row.
std::vector<std::vector<Rgb>> rgbRows(TBitmap& g)
{
    g.SetPixelFormat24();
    std::vector<std::vector<Rgb>> rows;
    for (int y = 0; y < g.Height(); ++y) {
        const uint8_t* p = g.Dib().ScanLine(y);
        std::vector<Rgb> row;
        for (int x = 0; x < g.Width(); ++x)
            row.push_back({p[3 * x + 2], p[3 * x + 1], p[3 * x]});
        rows.push_back(row);
    }
    return rows;
}
std::vector<std::vector<Rgb>> rgbRows(TBitmap&& g) { return rgbRows(g); }

template <class Graphic>
Graphic load(const Bytes& bytes)
{
    Graphic g;
    g.LoadFromMemory(bytes.data(), bytes.size());
    return g;
}

template <class Graphic>
std::string errorOf(const Bytes& bytes)
{
    try {
        load<Graphic>(bytes);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// A 5 × 3 test picture: every pixel different, so row order and channel
// order mistakes show.
constexpr int kW = 5, kH = 3;
Rgb colourAt(int x, int y) { return {40 * x + 10, 60 * y + 5, 200 - 30 * x - y}; }
std::vector<std::vector<Rgb>> expectedPicture()
{
    std::vector<std::vector<Rgb>> rows(kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            rows[size_t(y)].push_back(colourAt(x, y));
    return rows;
}

Bytes packBitsLiterals(const Bytes& raw)
{
    Bytes out;
    for (size_t at = 0; at < raw.size(); at += 128) {
        const size_t n = std::min<size_t>(128, raw.size() - at);
        out.push_back(uint8_t(n - 1));
        out.insert(out.end(), raw.begin() + ptrdiff_t(at), raw.begin() + ptrdiff_t(at + n));
    }
    return out;
}

// ---- GIF ----

Bytes gifIndices(int width, int height, bool interlaced)
{
    std::vector<int> order;
    if (!interlaced) {
        for (int y = 0; y < height; ++y)
            order.push_back(y);
    } else {
        for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
            for (int y = start; y < height; y += step)
                order.push_back(y);
    }
    Bytes indices;
    for (int y : order)
        for (int x = 0; x < width; ++x)
            indices.push_back(uint8_t(y * 16 + x));
    return indices;
}

TEST(GifGraphic, PlainAndInterlacedFilesGiveTheSameRows)
{
    constexpr int width = 5, height = 13;
    for (bool interlaced : {false, true}) {
        auto gif = load<TGIFGraphic>(testing::makeGif(width, height, gifIndices(width, height, interlaced), interlaced));
        ASSERT_EQ(gif.Dib().BitCount(), 8);
        ASSERT_EQ(gif.Width(), width);
        ASSERT_EQ(gif.Height(), height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(gif.Dib().ScanLine(y)[x], y * 16 + x) << "interlaced " << interlaced << " at " << x << "," << y;
        EXPECT_EQ(rgbRows(gif)[2][3], (Rgb{35, 255 - 35, 17})) << "the global colour table";
    }
}

TEST(GifGraphic, SignaturesTrailersAndShortData)
{
    ByteBuilder trailerOnly;
    trailerOnly.text("gif87a").u16(10).u16(10).u8(0).u8(0).u8(0).u8(';');
    auto empty = load<TGIFGraphic>(trailerOnly.bytes);
    EXPECT_EQ(empty.Width(), 0) << "a file holding only a trailer is an empty picture";

    Bytes bad = trailerOnly.bytes;
    bad[0] = 'J';
    EXPECT_EQ(errorOf<TGIFGraphic>(bad), "Not a valid GIF file.");

    // the packed data stops halfway: the rows it covered are there, the rest stay colour 0
    Bytes indices = gifIndices(40, 40, false);
    for (auto& v : indices)
        v = uint8_t(v * 37 + 11);  // little repetition, so half the data is about half the rows
    Bytes file = testing::makeGif(40, 40, indices, false);
    file.resize(file.size() / 2);
    auto half = load<TGIFGraphic>(file);
    EXPECT_EQ(half.Dib().ScanLine(0)[5], indices[5]);
    EXPECT_EQ(half.Dib().ScanLine(39)[39], 0);
}

TEST(GifGraphic, RefusesPicturesItsDataCannotFill)
{
    Bytes file = testing::makeGif(4, 4, Bytes(16, 1), false);
    // claim 60000 × 4000 pixels for the same dozen bytes of data
    const size_t descriptor = 6 + 7 + 768 + 8;  // after the header, screen, colour table and control block
    ASSERT_EQ(file[descriptor], ',');
    file[descriptor + 5] = 0x60, file[descriptor + 6] = 0xEA;
    file[descriptor + 7] = 0xA0, file[descriptor + 8] = 0x0F;
    EXPECT_EQ(errorOf<TGIFGraphic>(file), "Not a valid GIF file.");
}

// ---- TIFF ----

using testing::TiffTag;

Bytes tiffRgbStrip(int firstRow, int rows, bool differenced)
{
    Bytes raw;
    for (int y = firstRow; y < firstRow + rows; ++y) {
        Bytes row;
        for (int x = 0; x < kW; ++x) {
            const Rgb c = colourAt(x, y);
            row.insert(row.end(), {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)});
        }
        if (differenced)
            for (size_t i = row.size() - 1; i >= 3; --i)
                row[i] = uint8_t(row[i] - row[i - 3]);
        raw.insert(raw.end(), row.begin(), row.end());
    }
    return raw;
}

Bytes rgbTiff(bool bigEndian, int compression, bool predictor)
{
    std::vector<Bytes> strips;
    for (int first = 0; first < kH; first += 2) {
        const Bytes raw = tiffRgbStrip(first, std::min(2, kH - first), predictor);
        strips.push_back(compression == 5         ? testing::lzwEncode(raw, 8, true, true)
                             : compression == 32773 ? packBitsLiterals(raw)
                                                    : raw);
    }
    std::vector<TiffTag> tags = {
        {256, 3, {kW}}, {257, 3, {kH}}, {258, 3, {8, 8, 8}}, {259, 3, {uint32_t(compression)}},
        {262, 3, {2}}, {277, 3, {3}}, {278, 3, {2}},
    };
    if (predictor)
        tags.push_back({317, 3, {2}});
    return testing::makeTiff(bigEndian, tags, strips);
}

TEST(TiffGraphic, ByteOrderTwinsDecodeAlikeInEveryCompression)
{
    for (int compression : {1, 5, 32773}) {
        for (bool predictor : {false, true}) {
            for (bool bigEndian : {false, true}) {
                auto tiff = load<TTIFFGraphic>(rgbTiff(bigEndian, compression, predictor));
                EXPECT_EQ(rgbRows(tiff), expectedPicture())
                    << "compression " << compression << ", predictor " << predictor << ", MM " << bigEndian;
            }
        }
    }
}

TEST(TiffGraphic, SixteenBitSamplesKeepTheirHighByte)
{
    for (bool bigEndian : {false, true}) {
        ByteBuilder strip;
        strip.bigEndian = bigEndian;
        for (int v : {0x12FF, 0xAB01, 0x7F80})
            strip.u16(v);
        auto tiff = load<TTIFFGraphic>(testing::makeTiff(
            bigEndian, {{256, 3, {3}}, {257, 3, {1}}, {258, 3, {16}}, {262, 3, {1}}}, {strip.bytes}));
        EXPECT_EQ(rgbRows(tiff)[0], (std::vector<Rgb>{{0x12, 0x12, 0x12}, {0xAB, 0xAB, 0xAB}, {0x7F, 0x7F, 0x7F}}))
            << "MM " << bigEndian;
    }
}

TEST(TiffGraphic, PalettesForOneSample)
{
    // 1 bit, white is zero
    auto bilevel = load<TTIFFGraphic>(
        testing::makeTiff(false, {{256, 3, {3}}, {257, 3, {1}}, {258, 3, {1}}, {262, 3, {0}}}, {{0x40}}));
    EXPECT_EQ(rgbRows(bilevel)[0], (std::vector<Rgb>{{255, 255, 255}, {0, 0, 0}, {255, 255, 255}}));

    // 4 bits through the file's colour map, whose 16-bit entries give their high byte
    std::vector<uint32_t> map(48, 0);
    map[2] = 0xFF00, map[16 + 2] = 0x8000, map[32 + 2] = 0x1000;
    auto mapped = load<TTIFFGraphic>(testing::makeTiff(
        true, {{256, 3, {2}}, {257, 3, {1}}, {258, 3, {4}}, {262, 3, {3}}, {320, 3, map}}, {{0x20}}));
    EXPECT_EQ(rgbRows(mapped)[0], (std::vector<Rgb>{{255, 128, 16}, {0, 0, 0}}));
}

TEST(TiffGraphic, AlphaIsCountedByTheExtraSamplesTag)
{
    // unassociated alpha (extra sample value 2): still three colours and an alpha
    const Bytes pixel = {10, 20, 30, 99, 40, 50, 60, 0};
    auto rgba = load<TTIFFGraphic>(testing::makeTiff(
        false, {{256, 3, {2}}, {257, 3, {1}}, {258, 3, {8, 8, 8, 8}}, {262, 3, {2}}, {277, 3, {4}}, {338, 3, {2}}},
        {pixel}));
    EXPECT_EQ(rgba.Dib().BitCount(), 32);
    EXPECT_EQ(rgbRows(rgba)[0], (std::vector<Rgb>{{10, 20, 30}, {40, 50, 60}}));
}

TEST(TiffGraphic, CmykAndLabConversions)
{
    const Bytes inks = {0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 255, 128, 64, 0, 64};
    auto cmyk = load<TTIFFGraphic>(testing::makeTiff(
        false, {{256, 3, {4}}, {257, 3, {1}}, {258, 3, {8, 8, 8, 8}}, {262, 3, {5}}, {277, 3, {4}}}, {inks}));
    // 255 − 128 − 64 + round(128·64/255) = 95; 255 − 64 − 64 + 16 = 143; 255 − 0 − 64 = 191
    EXPECT_EQ(rgbRows(cmyk)[0], (std::vector<Rgb>{{255, 255, 255}, {0, 255, 255}, {0, 0, 0}, {95, 143, 191}}));

    const Bytes lab = {255, 0, 0, 128, 0, 0, 10, 0, 0, 0, 0, 0};
    auto cie = load<TTIFFGraphic>(testing::makeTiff(
        false, {{256, 3, {4}}, {257, 3, {1}}, {258, 3, {8, 8, 8}}, {262, 3, {8}}, {277, 3, {3}}}, {lab}));
    // L 50.2: fy = 0.5707, fy³ = 0.1858, so about 47 in every channel; L 3.9 takes the linear branch
    EXPECT_EQ(rgbRows(cie)[0], (std::vector<Rgb>{{255, 255, 255}, {47, 47, 47}, {1, 1, 1}, {0, 0, 0}}));
}

TEST(TiffGraphic, OldStyleLzwStripsDecode)
{
    const Bytes raw = tiffRgbStrip(0, kH, false);
    auto tiff = load<TTIFFGraphic>(testing::makeTiff(
        false, {{256, 3, {kW}}, {257, 3, {kH}}, {258, 3, {8, 8, 8}}, {259, 3, {5}}, {262, 3, {2}}, {277, 3, {3}}},
        {testing::lzwEncode(raw, 8, false, false)}));
    EXPECT_EQ(rgbRows(tiff), expectedPicture());
}

TEST(TiffGraphic, RefusedFiles)
{
    Bytes jpeg = rgbTiff(false, 1, false);
    // compression is the fourth entry (tags 256, 257, 258, 259 ...), its value at 8 + 2 + 3·12 + 8
    jpeg[8 + 2 + 3 * 12 + 8] = 7;
    EXPECT_EQ(errorOf<TTIFFGraphic>(jpeg), "TIFF: Unknown compression scheme");

    Bytes big = rgbTiff(false, 1, false);
    big[2] = 43;
    EXPECT_EQ(errorOf<TTIFFGraphic>(big), "Invalid TIFF file.");

    auto header = [](uint32_t width, uint32_t height, size_t dataBytes) {
        return testing::makeTiff(false, {{256, 4, {width}}, {257, 4, {height}}, {258, 3, {8}}}, {Bytes(dataBytes, 1)});
    };
    EXPECT_EQ(errorOf<TTIFFGraphic>(header(0, 5, 10)), "Invalid TIFF file.");
    EXPECT_EQ(errorOf<TTIFFGraphic>(header(16000, 16000, 100)), "Invalid TIFF file.") << "more pixels than data";
    EXPECT_EQ(errorOf<TTIFFGraphic>(header(70000, 70000, 100)), "Invalid TIFF file.") << "more than we ever allocate";
    EXPECT_EQ(errorOf<TTIFFGraphic>({'I', 'I', 42, 0, 0xFF, 0xFF, 0, 0}), "Stream read error");
}

// ---- Targa ----

Bytes targa(int type, int depth, bool topFirst, const Bytes& pixels, const Bytes& map = {}, int mapEntryBits = 24,
            int mapStart = 0)
{
    ByteBuilder b;
    const int entryBytes = (mapEntryBits + 7) / 8;
    b.u8(3).u8(map.empty() ? 0 : 1).u8(type).u16(mapStart).u16(map.empty() ? 0 : int(map.size()) / entryBytes);
    b.u8(mapEntryBits).u16(0).u16(0).u16(kW).u16(kH).u8(depth).u8(topFirst ? 0x20 : 0);
    b.text("id!").append(map).append(pixels);
    return b.bytes;
}

Bytes targaRows(bool topFirst)
{
    Bytes pixels;
    for (int i = 0; i < kH; ++i) {
        const int y = topFirst ? i : kH - 1 - i;
        for (int x = 0; x < kW; ++x) {
            const Rgb c = colourAt(x, y);
            pixels.insert(pixels.end(), {uint8_t(c.b), uint8_t(c.g), uint8_t(c.r)});
        }
    }
    return pixels;
}

TEST(TargaGraphic, BothRowOrdersShowUpright)
{
    for (bool topFirst : {false, true}) {
        auto raw = load<TTargaGraphic>(targa(2, 24, topFirst, targaRows(topFirst)));
        EXPECT_EQ(rgbRows(raw), expectedPicture()) << "top first " << topFirst;

        // run-length: one packet of literal pixels running across all row ends
        Bytes packed = {uint8_t(kW * kH - 1)};
        const Bytes rows = targaRows(topFirst);
        packed.insert(packed.end(), rows.begin(), rows.end());
        auto rle = load<TTargaGraphic>(targa(10, 24, topFirst, packed));
        EXPECT_EQ(rgbRows(rle), expectedPicture()) << "run-length, top first " << topFirst;
    }
}

TEST(TargaGraphic, ColourMapsAndRunsAcrossRows)
{
    // 16-bit map entries 5-5-5, eight times each; the map starts at index 4
    const Bytes map16 = {0x1F, 0x7C, 0xE0, 0x03};  // red 31, green 31
    Bytes indices(kW * kH, 4);
    indices[1] = 5;
    auto mapped = load<TTargaGraphic>(targa(1, 8, true, indices, map16, 16, 4));
    EXPECT_EQ(rgbRows(mapped)[0][0], (Rgb{248, 0, 248}));
    EXPECT_EQ(rgbRows(mapped)[0][1], (Rgb{0, 248, 0}));

    // grey type 11: a run of 8 crossing the first row end, then 7 literals
    Bytes packed = {0x87, 200, 0x06, 1, 2, 3, 4, 5, 6, 7};
    auto grey = load<TTargaGraphic>(targa(11, 8, true, packed));
    const auto rows = rgbRows(grey);
    EXPECT_EQ(rows[1][2], (Rgb{200, 200, 200}));
    EXPECT_EQ(rows[1][3], (Rgb{1, 1, 1}));
    EXPECT_EQ(rows[2][4], (Rgb{7, 7, 7}));
}

TEST(TargaGraphic, ShortAndUnknownFiles)
{
    Bytes cut = targa(2, 24, false, targaRows(false));
    cut.resize(cut.size() - 4);
    EXPECT_EQ(errorOf<TTargaGraphic>(cut), "Targa: invalid image");
    EXPECT_EQ(load<TTargaGraphic>(targa(32, 24, false, {})).Width(), 0) << "types we do not know have no pixels";
    EXPECT_EQ(errorOf<TTargaGraphic>(targa(2, 12, false, targaRows(false))), "Targa: invalid image");

    // runs that stop early leave the remaining rows black
    auto shortRun = load<TTargaGraphic>(targa(10, 24, true, {0x81, 9, 9, 9}));
    const auto rows = rgbRows(shortRun);
    EXPECT_EQ(rows[0][1], (Rgb{9, 9, 9}));
    EXPECT_EQ(rows[2][4], (Rgb{0, 0, 0}));
}

// ---- PCX ----

Bytes pcxHeader(int version, int bitsPerPlane, int planes, int width, int height, int bytesPerLine, int paletteType,
                const Bytes& palette16 = {})
{
    ByteBuilder b;
    b.u8(10).u8(version).u8(1).u8(bitsPerPlane).u16(0).u16(0).u16(width - 1).u16(height - 1).u16(72).u16(72);
    Bytes pal = palette16;
    pal.resize(48, 0);
    b.append(pal).u8(0).u8(planes).u16(bytesPerLine).u16(paletteType);
    b.zeros(128 - b.size());
    return b.bytes;
}

TEST(PcxGraphic, EightBitsWithAndWithoutTheTrailingPalette)
{
    ByteBuilder file;
    file.append(pcxHeader(5, 8, 1, 4, 2, 4, 1));
    file.u8(0xC4).u8(3);           // four of 3
    file.u8(7).u8(0xC1).u8(0xC5).u8(1).u8(2);  // 7, 0xC5, 1, 2
    ByteBuilder withPalette = file;
    withPalette.u8(12);
    for (int i = 0; i < 256; ++i)
        withPalette.u8(i).u8(0).u8(255 - i);
    auto coloured = load<TPCXGraphic>(withPalette.bytes);
    EXPECT_EQ(rgbRows(coloured)[0][0], (Rgb{3, 0, 252}));
    EXPECT_EQ(rgbRows(coloured)[1][1], (Rgb{0xC5, 0, 255 - 0xC5}));

    // no palette and palette type 1: the raster's own grey ramp stays
    auto plain = load<TPCXGraphic>(file.bytes);
    EXPECT_EQ(rgbRows(plain)[1][0], (Rgb{7, 7, 7}));
}

TEST(PcxGraphic, PlanesCombineIntoPixels)
{
    // one bit, one plane: black and white
    ByteBuilder mono;
    mono.append(pcxHeader(5, 1, 1, 3, 1, 2, 1)).u8(0xA0).u8(0);
    EXPECT_EQ(rgbRows(load<TPCXGraphic>(mono.bytes))[0], (std::vector<Rgb>{{255, 255, 255}, {0, 0, 0}, {255, 255, 255}}));

    // four planes: pixel 0 has bits in planes 0 and 2 (index 5), pixel 1 in plane 3 (index 8)
    Bytes palette(48);
    palette[15] = 11, palette[16] = 22, palette[17] = 33;
    palette[24] = 44, palette[25] = 55, palette[26] = 66;
    ByteBuilder planar;
    planar.append(pcxHeader(5, 1, 4, 2, 1, 1, 1, palette)).u8(0x80).u8(0x00).u8(0x80).u8(0x40);
    EXPECT_EQ(rgbRows(load<TPCXGraphic>(planar.bytes))[0], (std::vector<Rgb>{{11, 22, 33}, {44, 55, 66}}));

    // three planes of 8 bits per row: red, green, blue
    ByteBuilder colour;
    colour.append(pcxHeader(5, 8, 3, 2, 1, 2, 1)).u8(1).u8(2).u8(3).u8(4).u8(5).u8(6);
    EXPECT_EQ(rgbRows(load<TPCXGraphic>(colour.bytes))[0], (std::vector<Rgb>{{1, 3, 5}, {2, 4, 6}}));
}

TEST(PcxGraphic, RefusedFiles)
{
    Bytes notPcx = pcxHeader(5, 8, 1, 4, 2, 4, 1);
    notPcx[0] = 11;
    EXPECT_EQ(errorOf<TPCXGraphic>(notPcx), "Not a PCX or SCR file.");
    EXPECT_EQ(errorOf<TPCXGraphic>(pcxHeader(5, 8, 2, 4, 2, 4, 1)), "PCX: wrong pixel format");
    Bytes huge = pcxHeader(5, 8, 1, 60000, 4000, 60000, 1);
    huge.insert(huge.end(), {0xFF, 1});
    EXPECT_EQ(errorOf<TPCXGraphic>(huge), "Not a PCX or SCR file.") << "two bytes cannot make 240 megapixels";
}

// ---- the portable family ----

TEST(PpmGraphic, AllSixKindsGiveTheSamePicture)
{
    const std::vector<Rgb> colours = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 8, 7}};
    auto check = [&](const std::string& text, const std::vector<Rgb>& want) {
        const Bytes bytes(text.begin(), text.end());
        auto ppm = load<TPPMGraphic>(bytes);
        const auto rows = rgbRows(ppm);
        ASSERT_EQ(rows.size(), 2u) << text.substr(0, 2);
        EXPECT_EQ((std::vector<Rgb>{rows[0][0], rows[0][1], rows[1][0], rows[1][1]}), want) << text.substr(0, 2);
    };
    const std::vector<Rgb> bits = {{0, 0, 0}, {255, 255, 255}, {255, 255, 255}, {0, 0, 0}};
    check("P1\n# two by two\n2 2\n1 0\n01\n", bits);
    check(std::string("P4 2 2\n") + char(0x80) + char(0x40), bits);
    const std::vector<Rgb> greys = {{10, 10, 10}, {200, 200, 200}, {44, 44, 44}, {0, 0, 0}};
    check("P2 2 2 255\n10 200\n#comment\n300 0", greys);  // 300 taken as its low byte, 44
    check(std::string("P5\n2 2\n255\n") + char(10) + char(200) + char(44) + char(0), greys);
    check("P3 2 2 255  255 0 0  0 255 0\n0 0 255 9 8 7\n", colours);
    check(std::string("P6 2 2 65535\n") + std::string("\xFF\0\0\0\xFF\0\0\0\xFF\x09\x08\x07", 12), colours);
}

TEST(PpmGraphic, RefusedFiles)
{
    auto error = [](const std::string& text) { return errorOf<TPPMGraphic>(Bytes(text.begin(), text.end())); };
    EXPECT_EQ(error("P7 2 2 255\n"), "Not a valid ppm file.");
    EXPECT_EQ(error("P6 -2 2 255\n"), "Not a valid ppm file.");
    EXPECT_EQ(error("P6 2 2 255\nabc"), "PPM: Stream read error.");
    EXPECT_EQ(error("P2 2 2 255\n1 2 3"), "PPM: Stream read error.");
    EXPECT_EQ(error("P5 16000 16000 255\n...."), "PPM: Stream read error.") << "refused before allocating";
}

// ---- Photoshop ----

Bytes psd(int channels, int depth, int mode, int compression, const Bytes& modeData, const Bytes& body, int width = 2,
          int height = 1)
{
    ByteBuilder b;
    b.bigEndian = true;
    b.text("8BPS").u16(1).zeros(6).u16(channels).u32(uint32_t(height)).u32(uint32_t(width)).u16(depth).u16(mode);
    b.u32(uint32_t(modeData.size())).append(modeData).u32(0).u32(0).u16(compression).append(body);
    return b.bytes;
}

TEST(PsdGraphic, PlanesRawAndPackedAndColourModes)
{
    const Bytes planes = {1, 2, 3, 4, 5, 6};  // red plane, green plane, blue plane
    EXPECT_EQ(rgbRows(load<TPSDGraphic>(psd(3, 8, 3, 0, {}, planes)))[0],
              (std::vector<Rgb>{{1, 3, 5}, {2, 4, 6}}));
    ByteBuilder packed;
    packed.bigEndian = true;
    packed.u16(3).u16(3).u16(2).u8(1).u8(1).u8(2).u8(1).u8(3).u8(4).u8(0xFF).u8(5);
    auto rle = load<TPSDGraphic>(psd(3, 8, 3, 1, {}, packed.bytes));
    EXPECT_EQ(rgbRows(rle)[0], (std::vector<Rgb>{{1, 3, 5}, {2, 4, 5}}));

    auto wide = load<TPSDGraphic>(psd(1, 16, 1, 0, {}, {0xAB, 0xCD, 0x12, 0x34}));
    EXPECT_EQ(rgbRows(wide)[0], (std::vector<Rgb>{{0xAB, 0xAB, 0xAB}, {0x12, 0x12, 0x12}}));

    Bytes palette(768);
    palette[7] = 70, palette[256 + 7] = 80, palette[512 + 7] = 90;
    auto indexed = load<TPSDGraphic>(psd(1, 8, 2, 0, palette, {7, 0}));
    EXPECT_EQ(rgbRows(indexed)[0][0], (Rgb{70, 80, 90}));

    // the file keeps 255 for no ink
    auto cmyk = load<TPSDGraphic>(psd(4, 8, 4, 0, {}, {255, 0, 255, 255, 255, 255, 255, 255}));
    EXPECT_EQ(rgbRows(cmyk)[0], (std::vector<Rgb>{{255, 255, 255}, {0, 255, 255}}));

    EXPECT_EQ(errorOf<TPSDGraphic>(psd(3, 8, 7, 0, {}, planes)), "Not a valid psd file.");
    EXPECT_EQ(errorOf<TPSDGraphic>(psd(3, 8, 3, 0, {}, planes, 16000, 16000)), "Stream read error");
}

// ---- SGI ----

Bytes sgi(int storage, int bytesPerChannel, int channels, const Bytes& body)
{
    ByteBuilder b;
    b.bigEndian = true;
    b.u16(474).u8(storage).u8(bytesPerChannel).u16(channels == 1 ? 2 : 3).u16(kW).u16(kH).u16(channels);
    b.zeros(512 - b.size()).append(body);
    return b.bytes;
}

TEST(SgiGraphic, VerbatimAndRunLengthBottomRowFirst)
{
    ByteBuilder verbatim;
    verbatim.bigEndian = true;
    for (int c = 0; c < 3; ++c)
        for (int y = kH - 1; y >= 0; --y)
            for (int x = 0; x < kW; ++x) {
                const Rgb p = colourAt(x, y);
                verbatim.u16((c == 0 ? p.r : c == 1 ? p.g : p.b) << 8 | 0x7F);
            }
    auto wide = load<TSGIGraphic>(sgi(0, 2, 3, verbatim.bytes));
    EXPECT_EQ(rgbRows(wide), expectedPicture());

    // run-length: each stored row is literal packets; tables of starts and lengths first
    ByteBuilder tables, rows;
    tables.bigEndian = rows.bigEndian = true;
    std::vector<uint32_t> starts, lengths;
    const uint32_t dataAt = 512 + 2 * 4 * kH * 3;
    for (int c = 0; c < 3; ++c)
        for (int y = kH - 1; y >= 0; --y) {
            starts.push_back(dataAt + uint32_t(rows.size()));
            rows.u8(0x80 | kW);
            for (int x = 0; x < kW; ++x) {
                const Rgb p = colourAt(x, y);
                rows.u8(c == 0 ? p.r : c == 1 ? p.g : p.b);
            }
            rows.u8(0);
            lengths.push_back(kW + 2);
        }
    for (uint32_t s : starts)
        tables.u32(s);
    for (uint32_t l : lengths)
        tables.u32(l);
    auto packed = load<TSGIGraphic>(sgi(1, 1, 3, tables.append(rows.bytes).bytes));
    EXPECT_EQ(rgbRows(packed), expectedPicture());

    EXPECT_EQ(errorOf<TSGIGraphic>(sgi(0, 3, 3, {})), "Not a valid sgi, bw or rgb(a) image.");
    EXPECT_EQ(errorOf<TSGIGraphic>(sgi(0, 1, 3, Bytes(10))), "Not a valid sgi, bw or rgb(a) image.");
}

// ---- CUT, RLA, Autodesk, Photo-CD ----

TEST(CutGraphic, PaletteFileBesideThePicture)
{
    ByteBuilder cut;
    cut.u16(3).u16(2).u16(0);
    cut.u16(4).u8(0x83).u8(2).u8(0).u8(0);        // row 0: three of index 2
    cut.u16(5).u8(0x03).u8(0).u8(1).u8(2).u8(0);  // row 1: literal 0, 1, 2
    auto grey = load<TCUTGraphic>(cut.bytes);
    EXPECT_EQ(rgbRows(grey)[1], (std::vector<Rgb>{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}})) << "no palette: grey levels";

    const auto dir = std::filesystem::temp_directory_path() / ("tesserix_cut_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    {
        std::ofstream(dir / "pic.cut", std::ios::binary).write(reinterpret_cast<const char*>(cut.bytes.data()),
                                                                std::streamsize(cut.size()));
        ByteBuilder pal;
        pal.text("AH").zeros(38);
        for (int i = 0; i < 3; ++i)
            pal.u16(0x100 + 10 * i).u16(20 * i).u16(30 * i);
        std::ofstream(dir / "pic.pal", std::ios::binary).write(reinterpret_cast<const char*>(pal.bytes.data()),
                                                                std::streamsize(pal.size()));
    }
    TCUTGraphic coloured;
    coloured.LoadFromFile((dir / "pic.cut").string());
    EXPECT_EQ(rgbRows(coloured)[0][0], (Rgb{20, 40, 60}));
    std::filesystem::remove_all(dir);
}

TEST(RlaGraphic, ChannelsMatteAndRowOrder)
{
    ByteBuilder b;
    b.bigEndian = true;
    b.u16(0).u16(kW - 1).u16(0).u16(kH - 1).zeros(12).u16(3).u16(1);
    b.zeros(740 - b.size());
    ByteBuilder rows;
    rows.bigEndian = true;
    std::vector<uint32_t> offsets;
    const uint32_t dataAt = 740 + 4 * kH;
    for (int i = 0; i < kH; ++i) {
        const int y = kH - 1 - i;  // the offset table starts at the bottom row
        offsets.push_back(dataAt + uint32_t(rows.size()));
        for (int c = 0; c < 4; ++c) {
            rows.u16(kW + 1).u8(-kW);
            for (int x = 0; x < kW; ++x) {
                const Rgb p = colourAt(x, y);
                rows.u8(c == 0 ? p.r : c == 1 ? p.g : c == 2 ? p.b : 255);
            }
        }
    }
    for (uint32_t o : offsets)
        b.u32(o);
    auto rla = load<TRLAGraphic>(b.append(rows.bytes).bytes);
    EXPECT_EQ(rla.Dib().BitCount(), 32);
    EXPECT_EQ(rgbRows(rla), expectedPicture());

    Bytes grey = b.bytes;
    grey[21] = 1;
    EXPECT_EQ(errorOf<TRLAGraphic>(grey), "RLA: image must be RGB(A).");
}

TEST(AutodeskAndPhotoCd, SmallFilesAndMessages)
{
    ByteBuilder pic;
    pic.u16(0x9119).u16(2).u16(1).zeros(26);
    for (int i = 0; i < 256; ++i)
        pic.u8(i & 63).u8(1).u8(63);
    pic.u8(5).u8(6);
    auto autodesk = load<TAutodeskGraphic>(pic.bytes);
    EXPECT_EQ(rgbRows(autodesk)[0], (std::vector<Rgb>{{20, 4, 252}, {24, 4, 252}}));
    Bytes other = pic.bytes;
    other[0] = 0x12;
    EXPECT_EQ(errorOf<TAutodeskGraphic>(other), "Cannot load image. Only old style Autodesk images are supported.");
    pic.bytes.pop_back();
    EXPECT_EQ(errorOf<TAutodeskGraphic>(pic.bytes), "Stream read error");

    EXPECT_EQ(errorOf<TPCDGraphic>(Bytes(3000)), "PCD: wrong image format.");
}

}  // namespace
}  // namespace tsx

namespace tsx {
namespace {

TEST(DecoderRegistry, EntriesInTheirOrderMakeTheirClasses)
{
    TFileFormatsList list;
    registerDecoderFormats(list);
    const auto& entries = list.Entries();
    ASSERT_EQ(entries.size(), 28u);
    EXPECT_EQ(entries.front().extension, "win");
    EXPECT_EQ(entries[13].extension, "psd");
    EXPECT_EQ(entries.back().extension, "bw");
    for (const TFileFormat& e : entries)
        EXPECT_STREQ(e.create()->ClassName(), e.className.c_str()) << e.extension;
    EXPECT_STREQ(list.Find("TGA")->create()->ClassName(), "TTargaGraphic");
    EXPECT_STREQ(list.Find("rle")->create()->ClassName(), "TBitmap");
}

}  // namespace
}  // namespace tsx
