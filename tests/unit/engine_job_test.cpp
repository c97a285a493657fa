#include <limits>
#include <memory>

#include <gtest/gtest.h>

#include "engine/mosaic_job.h"
#include "engine/random.h"
#include "engine_test_support.h"
#include "raster/byte_io.h"

namespace tsx {
namespace {

int32_t le32At(const uint8_t* p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

TEST(SettingsRecord, FieldsSitAtTheirOffsetsWithHeightBeforeWidth)
{
    MosaicSettings s = MosaicSettings::wizardDefaults();
    s.rows = 20;
    s.cols = 30;
    s.cellWidth = 40;
    s.cellHeight = 25;
    s.mosaicHeight = 500;
    s.mosaicWidth = 1200;
    s.sourceRedAdjust = -7;
    s.sourceMono = true;
    s.diskSpaceMB = 1.5;
    s.allowHFlip = true;
    s.randomLevel = 8;
    s.cutEdges = true;
    s.maxRepeat = 20;
    s.colorEnhanceOff = true;
    s.savedSignatureBytes = 80;
    s.savedFileListBytes = 1234;

    uint8_t out[kSettingsBytes];
    std::fill(std::begin(out), std::end(out), uint8_t(0xAA));
    s.writeTo(out);
    EXPECT_EQ(le32At(out + 0), -7);
    EXPECT_EQ(out[12], 1);
    EXPECT_EQ(le32At(out + 16), 20);
    EXPECT_EQ(le32At(out + 20), 30);
    EXPECT_EQ(le32At(out + 24), 40);
    EXPECT_EQ(le32At(out + 28), 25);
    EXPECT_EQ(le32At(out + 32), 500);
    EXPECT_EQ(le32At(out + 36), 1200);
    ByteReader dr(out + 40, 8);
    EXPECT_EQ(dr.f64le(), 1.5);
    EXPECT_EQ(out[50], 1);  // stretchCells, the wizard default
    EXPECT_EQ(out[52], 1);  // allowHFlip
    EXPECT_EQ(le32At(out + 56), 8);
    EXPECT_EQ(out[62], 1);  // noClose default
    EXPECT_EQ(out[63], 1);
    EXPECT_EQ(le32At(out + 64), 20);
    EXPECT_EQ(out[68], 1);
    EXPECT_EQ(le32At(out + 72), 80);
    EXPECT_EQ(le32At(out + 76), 1234);
    for (size_t pad : {13, 14, 15, 53, 54, 55, 69, 70, 71})
        EXPECT_EQ(out[pad], 0) << "padding byte " << pad;

    EXPECT_EQ(MosaicSettings::readFrom(out), s);
    // Readers ignore padding.
    out[13] = out[54] = out[71] = 0x5A;
    EXPECT_EQ(MosaicSettings::readFrom(out), s);
}

TEST(PlacementGrid, RecordsAreColumnMajorLittleEndianAndRoundTrip)
{
    auto grid = std::make_unique<PlacementGrid>();
    grid->at(1, 0) = CellPlacement{7, -3, 255, -255, 1};
    grid->at(0, 1) = CellPlacement{0x01020304, 0, 0, 0, 0};
    grid->at(799, 799) = CellPlacement{42, 1, 2, 3, 1};
    std::vector<uint8_t> bytes(kPlacementGridBytes, 0xEE);
    grid->writeTo(bytes.data());

    EXPECT_EQ(le32At(&bytes[16000]), 7);
    EXPECT_EQ(le32At(&bytes[16004]), -3);
    EXPECT_EQ(le32At(&bytes[16008]), 255);
    EXPECT_EQ(le32At(&bytes[16012]), -255);
    EXPECT_EQ(bytes[16016], 1);
    EXPECT_EQ(bytes[16017], 0);
    EXPECT_EQ(bytes[20], 4);
    EXPECT_EQ(bytes[23], 1);
    EXPECT_EQ(le32At(&bytes[kPlacementGridBytes - 20]), 42);
    EXPECT_EQ(bytes[kPlacementGridBytes - 1], 0);

    auto back = std::make_unique<PlacementGrid>();
    back->readFrom(bytes.data());
    EXPECT_TRUE(*back == *grid);
}

TEST(Signatures, RecordsAreEightBytesInListOrder)
{
    std::vector<uint8_t> stream;
    appendSignature(stream, CellSignature{1, 2, 3, 0, 0});
    appendSignature(stream, CellSignature{10, 20, 30, 9, -2});
    ASSERT_EQ(stream.size(), 16u);
    EXPECT_EQ(signatureCount(stream), 2u);
    EXPECT_EQ(stream[8], 10);
    EXPECT_EQ(stream[10], 30);
    EXPECT_EQ(le32At(&stream[12]), -2);
    setSignatureAt(stream, 0, CellSignature{4, 5, 6, 0, 300});
    EXPECT_EQ((signatureAt(stream, 0)), (CellSignature{4, 5, 6, 0, 300}));
    EXPECT_EQ((signatureAt(stream, 1)), (CellSignature{10, 20, 30, 9, -2}));
    EXPECT_THROW(signatureAt(stream, 2), EReadError);
}

TEST(Generator, FollowsTheLinearCongruenceAndTakesTheHighHalf)
{
    Random random;
    random.setState(12345);
    // Values worked out independently of the code under test.
    EXPECT_EQ(random.next(10), 3);
    EXPECT_EQ(random.next(100), 28);
    EXPECT_EQ(random.next(1000), 79);
    EXPECT_EQ(random.next(9), 4);
    EXPECT_EQ(random.next(0), 0);  // still advances the state
    EXPECT_EQ(random.next(7), 2);
    EXPECT_EQ(random.state(), 1467157059u);

    random.setState(0xFFFFFFFFu);
    for (int i = 0; i < 1000; ++i) {
        const int v = random.next(8);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 8);
    }
}

TEST(Generator, SeedIsMillisecondsSinceMidnight)
{
    Random random;
    random.seedFromClock();
    EXPECT_LT(random.state(), 24u * 60 * 60 * 1000);
}

TEST(ColourDistance, SumsAbsoluteChannelDifferences)
{
    EXPECT_EQ(colourDistance(10, 20, 30, 30, 20, 10), 40);
    EXPECT_EQ(colourDistance(30, 20, 10, 10, 20, 30), 40);
    EXPECT_EQ(colourDistance(0, 0, 0, 255, 255, 255), 765);
    EXPECT_EQ(colourDistance(7, 8, 9, 7, 8, 9), 0);
    EXPECT_EQ(clampByte(-1), 0);
    EXPECT_EQ(clampByte(256), 255);
    EXPECT_EQ(clampByte(77), 77);
}

TEST(ComputeSignature, MeansA16By16SampleWithTruncation)
{
    TPicture picture;
    test::fillRaster(picture.Bitmap().Dib(), 37, 23, {{12, 200, 255}});
    EXPECT_EQ(computeSignature(picture), (CellSignature{12, 200, 255, 0, 0}));

    test::fillRaster(picture.Bitmap().Dib(), 1, 1, {{9, 8, 7}});
    EXPECT_EQ(computeSignature(picture), (CellSignature{9, 8, 7, 0, 0}));

    // Left half black, right half white: 8 columns of each, 127.5 cut to 127.
    test::ColourList halves;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            halves.push_back(x < 16 ? test::Colour{0, 0, 0} : test::Colour{255, 255, 255});
    test::fillRaster(picture.Bitmap().Dib(), 32, 32, halves);
    EXPECT_EQ(computeSignature(picture), (CellSignature{127, 127, 127, 0, 0}));
}

TEST(AdjustColours, ShiftsEachChannelAndClamps)
{
    test::ColourList pixels{{0, 10, 20}, {100, 128, 255}, {255, 1, 77}, {30, 60, 90}};
    TDIB dib;
    test::fillRaster(dib, 2, 2, pixels);
    adjustColours(dib, 0, 0, 0, false);
    for (int k = 0; k < 4; ++k) {
        const uint8_t* p = dib.ScanLine(k / 2) + 3 * (k % 2);
        EXPECT_EQ((test::Colour{p[2], p[1], p[0]}), pixels[size_t(k)]);
    }
    adjustColours(dib, 300, -5, -300, false);
    for (int k = 0; k < 4; ++k) {
        const uint8_t* p = dib.ScanLine(k / 2) + 3 * (k % 2);
        EXPECT_EQ(p[2], 255);
        EXPECT_EQ(p[1], clampByte(pixels[size_t(k)][1] - 5));
        EXPECT_EQ(p[0], 0);
    }
    // Offsets far outside the usual range (a damaged project) still clamp.
    adjustColours(dib, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 0, false);
    EXPECT_EQ(dib.ScanLine(0)[2], 0);
    EXPECT_EQ(dib.ScanLine(0)[1], 255);

    // Grey first, then the offsets tint it.
    test::fillRaster(dib, 1, 1, {{200, 50, 120}});
    TDIB grey;
    test::fillRaster(grey, 1, 1, {{200, 50, 120}});
    grey.Greyscale(24);
    const int g = grey.ScanLine(0)[1];
    adjustColours(dib, 10, 0, -10, true);
    EXPECT_EQ((test::Colour{dib.ScanLine(0)[2], dib.ScanLine(0)[1], dib.ScanLine(0)[0]}),
              (test::Colour{uint8_t(g + 10), uint8_t(g), uint8_t(g - 10)}));
}

}  // namespace
}  // namespace tsx
