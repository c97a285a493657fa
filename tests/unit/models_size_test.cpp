#include "wizard/mosaic_size.h"

#include <gtest/gtest.h>

#include <memory>

namespace tsx {
namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

Rgb pixel(TDIB& dib, int x, int y)
{
    const uint8_t* p = dib.ScanLine(y) + 3 * x;
    return Rgb{p[2], p[1], p[0]};
}

void setPixel(TDIB& dib, int x, int y, Rgb c)
{
    uint8_t* p = dib.RowPointer(y) + 3 * x;
    p[0] = uint8_t(c.b);
    p[1] = uint8_t(c.g);
    p[2] = uint8_t(c.r);
}

// A 2 × 2 source: red, green over blue, white.
void loadQuadSource(MosaicJob& job)
{
    TDIB& dib = job.sourcePicture.Bitmap().Dib();
    dib.Allocate(2, 2, 24);
    setPixel(dib, 0, 0, {200, 0, 0});
    setPixel(dib, 1, 0, {0, 200, 0});
    setPixel(dib, 0, 1, {0, 0, 200});
    setPixel(dib, 1, 1, {250, 250, 250});
}

TEST(SizeStep, DiskEstimateIsCutToOneDecimal)
{
    EXPECT_EQ(diskSpaceMB(1536, 1536), 6.7);
    EXPECT_EQ(diskSpaceMB(1024, 1024), 3.0);
    EXPECT_EQ(diskSpaceMB(20480, 20480), 1200.0);
    EXPECT_EQ(diskSpaceMB(20480, 20490), 1200.6);
    EXPECT_EQ(formatShortest(6.7), "6.7");
    EXPECT_EQ(formatShortest(3.0), "3");
    EXPECT_EQ(formatShortest(1200.6, ','), "1200,6");
}

TEST(SizeStep, LabelsOfTheInitialGrid)
{
    MosaicSettings s;
    recomputeSize(s, 32, 32, 48, 48);
    const SizeStepLabels l = sizeStepLabels(s);
    EXPECT_EQ(l.verticalCells, "Vertical  Cells Count : 32");
    EXPECT_EQ(l.horizontalCells, "Horizontal Cells Count : 32");
    EXPECT_EQ(l.cellWidth, "Width: 48");
    EXPECT_EQ(l.cellHeight, "Height: 48");
    EXPECT_EQ(l.mosaicRatio, "Aspect ratio of Photomosaic image :100/100");
    EXPECT_EQ(l.mosaicSize, "Mosaic size will be : 1536 x 1536");
    EXPECT_EQ(l.diskSpace, "Disk Space Taken : 6.7 MB");

    recomputeSize(s, 16, 640, 800, 24);
    EXPECT_EQ(s.mosaicHeight, 384);
    EXPECT_EQ(s.mosaicWidth, 512000);
    EXPECT_EQ(sizeStepLabels(s).mosaicRatio, "Aspect ratio of Photomosaic image :0/100");
    EXPECT_EQ(sizeStepLabels(MosaicSettings{}).mosaicRatio, "Aspect ratio of Photomosaic image :0/100");
}

TEST(SizeStep, StatusTextsAfterReset)
{
    MosaicSettings s;
    recomputeSize(s, 48, 48, 32, 32);
    const SizeStatusTexts t = sizeStatusTexts(s);
    EXPECT_EQ(t.cells, "Cells Count 48 x 48 = 2304");
    EXPECT_EQ(t.cellSize, "Cell Size 32 x 32");
    EXPECT_EQ(t.mosaicSize, "PhotoMosaic Size 1536 x 1536");
}

TEST(SizeStep, ApplyAcceptsTheLargestMosaicAndRefusesTenPixelsMore)
{
    auto job = std::make_unique<MosaicJob>();
    loadQuadSource(*job);
    ASSERT_EQ(applySize(*job, 4, 4, 24, 24), ApplyOutcome::Applied);
    const TDIB rasterBefore = job->cellColourRaster;

    // 20480 pixels and ten more: refused, though the fields follow
    EXPECT_EQ(applySize(*job, 683, 640, 32, 30), ApplyOutcome::TooBig);
    EXPECT_EQ(job->settings.rows, 683);
    EXPECT_EQ(job->settings.mosaicHeight, 20490);
    EXPECT_EQ(job->settings.diskSpaceMB, 1200.6);
    EXPECT_TRUE(job->cellColourRaster.SharesStorageWith(rasterBefore));
    EXPECT_EQ(job->mosaicImage.Width(), 96);

    // 640 × 640 cells of 32 is exactly the limit; checked without the 1.2 GB raster
    MosaicSettings s;
    recomputeSize(s, 640, 640, 32, 32);
    EXPECT_EQ(s.diskSpaceMB, 1200.0);
    EXPECT_FALSE(exceedsDiskLimit(s.diskSpaceMB));
}

TEST(SizeStep, CellColoursAreSampledThenShiftedAndThePreviewShiftedTwice)
{
    auto job = std::make_unique<MosaicJob>();
    loadQuadSource(*job);
    job->settings.sourceRedAdjust = 40;
    job->settings.sourceBlueAdjust = -10;
    ASSERT_EQ(applySize(*job, 4, 6, 24, 25), ApplyOutcome::Applied);

    TDIB& cells = job->cellColourRaster;
    ASSERT_EQ(cells.Width(), 6);
    ASSERT_EQ(cells.Height(), 4);
    ASSERT_EQ(cells.BitCount(), 24);
    // nearest pixel: each source pixel covers a block of 3 × 2 cells
    EXPECT_EQ(pixel(cells, 0, 0), (Rgb{240, 0, 0}));
    EXPECT_EQ(pixel(cells, 2, 1), (Rgb{240, 0, 0}));
    EXPECT_EQ(pixel(cells, 3, 0), (Rgb{40, 200, 0}));
    EXPECT_EQ(pixel(cells, 0, 2), (Rgb{40, 0, 190}));
    EXPECT_EQ(pixel(cells, 5, 3), (Rgb{255, 250, 240}));

    TDIB& preview = job->mosaicImage;
    ASSERT_EQ(preview.Width(), 144);
    ASSERT_EQ(preview.Height(), 100);
    EXPECT_EQ(pixel(preview, 0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(pixel(preview, 3 * 24, 24), (Rgb{80, 200, 0}));
    EXPECT_EQ(pixel(preview, 3 * 24 - 1, 24), (Rgb{255, 0, 0}));
    EXPECT_EQ(pixel(preview, 0, 50), (Rgb{80, 0, 180}));
    EXPECT_EQ(pixel(preview, 143, 99), (Rgb{255, 250, 230}));
}

TEST(SizeStep, GreySourceIsTurnedGreyBeforeTheOffsets)
{
    auto job = std::make_unique<MosaicJob>();
    loadQuadSource(*job);
    job->settings.sourceMono = true;
    job->settings.sourceGreenAdjust = 5;
    ASSERT_EQ(applySize(*job, 2, 2, 24, 24), ApplyOutcome::Applied);
    const Rgb c = pixel(job->cellColourRaster, 1, 1);
    EXPECT_EQ(c.r, c.b);
    EXPECT_EQ(c.g, std::min(255, c.r + 5));
}

TEST(SizeStep, SmallSourceIsEnlargedByNearestPixel)
{
    auto job = std::make_unique<MosaicJob>();
    TDIB& dib = job->sourcePicture.Bitmap().Dib();
    dib.Allocate(24, 24, 24);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            setPixel(dib, x, y, {x * 10, y * 10, 0});
    MosaicSettings& s = job->settings;
    recomputeSize(s, 640, 640, 24, 24);
    buildCellColourRaster(job->sourcePicture, s, job->cellColourRaster);
    TDIB& cells = job->cellColourRaster;
    // cell x takes source pixel x * 24 / 640
    for (int x : {0, 26, 27, 53, 54, 639})
        EXPECT_EQ(pixel(cells, x, 0).r, x * 24 / 640 * 10) << x;
    EXPECT_EQ(pixel(cells, 0, 639).g, 230);
}

}  // namespace
}  // namespace tsx
