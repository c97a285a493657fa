#include <gtest/gtest.h>

#include <string>

#include "raster/dib.h"
#include "raster/errors.h"

using namespace tsx;

namespace {

TDIB pixel(uint8_t b, uint8_t g, uint8_t r)
{
    TDIB d;
    d.Allocate(1, 1, 24);
    uint8_t* p = d.RowPointer(0);
    p[0] = b;
    p[1] = g;
    p[2] = r;
    return d;
}

int grey(uint8_t b, uint8_t g, uint8_t r)
{
    TDIB d = pixel(b, g, r);
    d.Greyscale(24);
    const uint8_t* p = d.ScanLine(0);
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
    return p[0];
}

// Rasters whose pixels are labelled by one byte: label of (x, y) at pixel x.
TDIB labelled(int w, int h, int bitCount)
{
    TDIB d;
    if (bitCount == 16)
        d.SetPixelFormat(TPixelFormat::rgb555());
    d.Allocate(w, h, bitCount);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int label = y * w + x + 1;
            uint8_t* row = d.RowPointer(y);
            switch (bitCount) {
            case 1:
                row[x / 8] |= uint8_t((label & 1) << (7 - x % 8));
                break;
            case 4:
                row[x / 2] |= uint8_t((label & 15) << (x % 2 ? 0 : 4));
                break;
            default:
                row[x * bitCount / 8] = uint8_t(label);
            }
        }
    return d;
}

int label(const TDIB& d, int x, int y)
{
    const uint8_t* row = d.ScanLine(y);
    switch (d.BitCount()) {
    case 1:
        return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4:
        return (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
    default:
        return row[x * d.BitCount() / 8];
    }
}

int expectedLabel(int x, int y, int w, int bitCount)
{
    const int l = y * w + x + 1;
    return bitCount == 1 ? l & 1 : bitCount == 4 ? l & 15 : l & 255;
}

}  // namespace

TEST(Greyscale, TruncatingWeights)
{
    EXPECT_EQ(grey(255, 255, 255), 253);
    EXPECT_EQ(grey(0, 0, 0), 0);
    EXPECT_EQ(grey(0, 0, 255), 91);
    EXPECT_EQ(grey(0, 255, 0), 102);
    EXPECT_EQ(grey(255, 0, 0), 60);
    EXPECT_EQ(grey(200, 150, 100), 142);
    EXPECT_EQ(grey(128, 128, 128), 126);
    EXPECT_EQ(grey(1, 1, 1), 0);
    EXPECT_EQ(grey(3, 3, 3), 2);
    EXPECT_EQ(grey(253, 253, 253), 251);  // again on white's grey
}

TEST(Greyscale, SharedPixelsPaddingAndOtherBitCounts)
{
    TDIB a;
    a.Allocate(3, 2, 24);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 9; ++i)
            a.RowPointer(y)[i] = 255;
    TDIB b(a);
    a.Greyscale(24);
    EXPECT_EQ(a.ScanLine(1)[8], 253);
    EXPECT_EQ(a.ScanLine(1)[9], 0);  // padding untouched
    EXPECT_EQ(b.ScanLine(1)[8], 255);

    TDIB empty;
    empty.Greyscale(24);
    EXPECT_TRUE(empty.IsEmpty());
    try {
        a.Greyscale(7);
        FAIL();
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Bitcount in invalid (7)");
    }
    EXPECT_EQ(a.ScanLine(0)[0], 253);

    TDIB pal = pixel(0, 0, 255);
    pal.Greyscale(8);
    ASSERT_EQ(pal.BitCount(), 8);
    const TRGBQuad q = pal.ColorTable()[pal.ScanLine(0)[0]];
    EXPECT_EQ(q.rgbRed, 91);
    EXPECT_EQ(q.rgbBlue, 91);
}

TEST(Mirror, EveryDirectionAndBitCount)
{
    for (int bits : {1, 4, 8, 16, 24, 32})
        for (auto [w, h] : {std::array{3, 3}, std::array{4, 2}, std::array{13, 5}, std::array{1, 1}})
            for (auto [mx, my] : {std::array{true, false}, std::array{false, true}, std::array{true, true}}) {
                TDIB d = labelled(w, h, bits);
                const TDIB original(d);
                d.Mirror(mx, my);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const int sx = mx ? w - 1 - x : x, sy = my ? h - 1 - y : y;
                        ASSERT_EQ(label(d, x, y), expectedLabel(sx, sy, w, bits))
                            << bits << " bits " << w << "x" << h << " " << mx << my;
                        // the raster it shared its pixels with is untouched
                        ASSERT_EQ(label(original, x, y), expectedLabel(x, y, w, bits));
                    }
            }
    TDIB d = labelled(3, 1, 24);
    d.Mirror(false, false);
    EXPECT_EQ(label(d, 0, 0), 1);
    TDIB empty;
    empty.Mirror(true, true);
    EXPECT_TRUE(empty.IsEmpty());
}
