#include "engine/detail.h"

#include <algorithm>
#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "engine/fidelity.h"
#include "engine/missing_colours.h"
#include "engine/placement.h"
#include "engine_test_support.h"

namespace tsx {
namespace {

using test::Colour;
using test::ColourList;
using test::fillRaster;

TEST(DetailColours, AreExactAreaAveragesOfTheGridOrTheCrop)
{
    // red = 10x + 100y on a 3 x 3 raster; a 2 x 2 grid cuts the middle
    // pixels in half, so the top-left quarter weighs pixel 1 at one half.
    ColourList pixels;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            pixels.push_back({uint8_t(10 * x + 100 * y), 7, uint8_t(x == 2 ? 255 : 0)});
    TDIB raster;
    fillRaster(raster, 3, 3, pixels);
    const std::vector<double> g = gridAverages(raster, AreaRect{0, 0, 3, 3}, 2);
    const double third = 0.5 / 1.5;  // the cut pixel's share of a half
    EXPECT_NEAR(g[0], 10 * third + 100 * third, 1e-9);
    EXPECT_NEAR(g[1], 7, 1e-9);
    EXPECT_NEAR(g[2], 0, 1e-9);
    EXPECT_NEAR(g[3], 10 * (1 * third + 2 * (1 - third)) + 100 * third, 1e-9);  // top right
    EXPECT_NEAR(g[5], 255 * (1 - third), 1e-9);
    EXPECT_NEAR(g[9], 10 * (1 * third + 2 * (1 - third)) + 100 * (1 * third + 2 * (1 - third)), 1e-9);

    // A wide picture in a square cell with cut edges: only the centred
    // square counts, so the black side bands leave no trace.
    ColourList wide(8 * 2, Colour{0, 0, 0});
    for (int y = 0; y < 2; ++y)
        for (int x = 2; x < 6; ++x)
            wide[size_t(y * 8 + x)] = Colour{200, 100, 50};
    TDIB picture;
    fillRaster(picture, 8, 2, wide);
    DetailSignatures cut{3, {}}, stretched{3, {}};
    appendDetailSignature(cut, picture, 40, 40, false);
    appendDetailSignature(stretched, picture, 40, 40, true);
    const Lab inside = labFromRgb(200, 100, 50);
    for (const Lab& c : cut.colours) {
        EXPECT_NEAR(c.L, inside.L, 1e-3);
        EXPECT_NEAR(c.a, inside.a, 1e-3);
    }
    EXPECT_LT(stretched.colours[0].L, inside.L - 10);  // the band darkens the left column

    // A cell's colours come from the adjusted source: +40 red, clamped.
    TDIB source;
    fillRaster(source, 4, 2, ColourList(8, Colour{230, 20, 20}));
    const CellDetail cells = computeCellDetail(source, 1, 2, 2, 40, 0, 0, false);
    ASSERT_EQ(cells.meanBgr.size(), 6u);
    EXPECT_EQ(cells.meanBgr[2], 255);
    EXPECT_EQ(cells.meanBgr[1], 20);
    EXPECT_NEAR(cells.colours[0].L, labFromRgb(255, 20, 20).L, 1e-3);
}

// The rules written plainly: every eligible picture's distance, the eight
// smallest by distance then index, the draw among the level's nearest, the
// same fallbacks as the mean-colour placement.
void plainDetailPlacement(MosaicJob& job, Random& random, int n, const DetailSignatures& pictures,
                          const CellDetail& cells)
{
    const MosaicSettings& s = job.settings;
    for (int c = 0; c < 800; ++c)
        for (int r = 0; r < 800; ++r)
            job.placementGrid.at(c, r).occupied = 0;
    job.workingSignatures = job.signatureStream;
    std::vector<int> uses(size_t(n), 0);
    auto place = [&](int i, int c, int r) {
        CellPlacement& p = job.placementGrid.at(c, r);
        const CellSignature sig = signatureAt(job.signatureStream, size_t(i));
        const uint8_t* mean = &cells.meanBgr[(size_t(r) * size_t(s.cols) + size_t(c)) * 3];
        p = CellPlacement{i, sig.red - mean[2], sig.green - mean[1], sig.blue - mean[0], 1};
        ++uses[size_t(i)];
    };
    if (s.useAll) {
        for (int i = 0; i < n; ++i) {
            float best = 1e30f;
            int bc = -1, br = -1;
            for (int r = 0; r < s.rows; ++r)
                for (int c = 0; c < s.cols; ++c) {
                    const float d = detailDistance(pictures, size_t(i), cells, size_t(r * s.cols + c));
                    if (!job.placementGrid.at(c, r).occupied && d < best) {
                        best = d;
                        bc = c;
                        br = r;
                    }
                }
            if (bc >= 0)
                place(i, bc, br);
        }
    }
    for (int r = 0; r < s.rows; ++r)
        for (int c = 0; c < s.cols; ++c) {
            if (job.placementGrid.at(c, r).occupied)
                continue;
            auto neighbour = [&](int i) {
                return s.noClose && ((c > 0 && job.placementGrid.at(c - 1, r).imageIndex == i) ||
                                     (r > 0 && job.placementGrid.at(c, r - 1).imageIndex == i) ||
                                     (c > 0 && r > 0 && job.placementGrid.at(c - 1, r - 1).imageIndex == i));
            };
            std::vector<std::pair<float, int>> eligible;
            for (int pass = 0; pass < 3 && eligible.empty(); ++pass)
                for (int i = 0; i < n; ++i) {
                    if (pass == 0 && s.limitRepeat && uses[size_t(i)] + 1 > s.maxRepeat)
                        continue;
                    if (pass < 2 && neighbour(i))
                        continue;
                    eligible.emplace_back(detailDistance(pictures, size_t(i), cells, size_t(r * s.cols + c)), i);
                }
            std::sort(eligible.begin(), eligible.end());
            const int filled = std::min(int(eligible.size()), 8);
            const int j = random.next(std::min(s.randomLevel > 1 ? s.randomLevel - 1 : 0, filled));
            place(eligible[size_t(j)].second, c, r);
        }
    for (int i = 0; i < n; ++i) {
        CellSignature sig = signatureAt(job.workingSignatures, size_t(i));
        sig.useCount = uses[size_t(i)];
        setSignatureAt(job.workingSignatures, size_t(i), sig);
    }
}

TEST(DetailPlacement, FollowsEveryRuleOnTheDetailDistance)
{
    std::mt19937 rng(20261208);
    Random random;
    for (int trial = 0; trial < 40; ++trial) {
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const int rows = pick(1, 12), cols = pick(1, 12), grid = pick(2, 4);
        const int n = trial % 5 == 1 ? pick(rows * cols, rows * cols + 20) : pick(10, 80);
        // a few picture patterns only, so equal distances decide many cells
        const int patterns = trial % 2 ? 3 : 40;
        std::vector<TDIB> pattern{size_t(patterns)};
        for (TDIB& p : pattern) {
            ColourList px;
            for (int k = 0; k < 36; ++k)
                px.push_back({uint8_t(pick(0, 255)), uint8_t(pick(0, 255)), uint8_t(pick(0, 255))});
            fillRaster(p, 6, 6, px);
        }
        ColourList sourcePixels;
        for (int k = 0; k < cols * 5 * rows * 5; ++k)
            sourcePixels.push_back({uint8_t(pick(0, 255)), uint8_t(pick(0, 255)), uint8_t(pick(0, 255))});

        auto job = test::makePlacementJob(rows, cols, ColourList(size_t(rows * cols), Colour{0, 0, 0}), {});
        fillRaster(job->sourcePicture.Bitmap().Dib(), cols * 5, rows * 5, sourcePixels);
        DetailSignatures pictures{grid, {}};
        for (int i = 0; i < n; ++i) {
            appendDetailSignature(pictures, pattern[size_t(pick(0, patterns - 1))], 32, 32, true);
            appendSignature(job->signatureStream, CellSignature{uint8_t(pick(0, 255)), uint8_t(i), 9, 0, 0});
        }
        MosaicSettings& s = job->settings;
        s.randomLevel = pick(1, 8);
        s.useAll = pick(0, 2) == 0;
        s.limitRepeat = pick(0, 2) == 0;
        s.maxRepeat = pick(1, 3);
        s.noClose = pick(0, 3) != 0;
        s.sourceRedAdjust = pick(-30, 30);
        job->detailGrid = grid;
        job->detailSignatures = pictures;

        auto plain = test::makePlacementJob(rows, cols, ColourList(size_t(rows * cols), Colour{0, 0, 0}), {});
        plain->settings = s;
        plain->signatureStream = job->signatureStream;
        const CellDetail cells = computeCellDetail(job->sourcePicture.Bitmap().Dib(), rows, cols, grid,
                                                   s.sourceRedAdjust, 0, 0, false);

        const uint32_t seed = uint32_t(rng());
        test::placeSeeded(*job, random, n, seed);
        const uint32_t state = random.state();
        random.setState(seed);
        plainDetailPlacement(*plain, random, n, pictures, cells);

        SCOPED_TRACE(testing::Message() << "trial " << trial << " " << cols << " x " << rows << " grid " << grid
                                        << " n " << n << " level " << s.randomLevel << " useAll " << s.useAll
                                        << " limit " << s.limitRepeat << "/" << s.maxRepeat << " noClose "
                                        << s.noClose);
        ASSERT_EQ(state, random.state());
        ASSERT_TRUE(job->placementGrid == plain->placementGrid);
        ASSERT_TRUE(job->workingSignatures == plain->workingSignatures);
    }
}

TEST(DetailPlacement, PrefersTheMatchingShapeOverTheMatchingMean)
{
    // Two pictures of the same mean grey: one dark on the left, one dark on
    // the right. Cells dark on the right take the second; by mean colour
    // both are equal and the first would win every cell.
    auto halves = [](bool darkLeft) {
        ColourList px;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const uint8_t v = (x < 2) == darkLeft ? 40 : 220;
                px.push_back({v, v, v});
            }
        TDIB p;
        fillRaster(p, 4, 4, px);
        return p;
    };
    auto job = test::makePlacementJob(1, 3, ColourList(3, Colour{130, 130, 130}), {});
    ColourList source;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 12; ++x) {
            const uint8_t v = x % 4 < 2 ? 220 : 40;
            source.push_back({v, v, v});
        }
    fillRaster(job->sourcePicture.Bitmap().Dib(), 12, 4, source);
    job->detailGrid = 2;
    job->detailSignatures.grid = 2;
    for (int i = 0; i < 12; ++i) {
        appendDetailSignature(job->detailSignatures, halves(i % 2 == 0), 40, 40, true);
        appendSignature(job->signatureStream, CellSignature{130, 130, 130, 0, 0});
    }
    job->settings.randomLevel = 1;
    job->settings.noClose = false;
    Random random;
    test::placeSeeded(*job, random, 12);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(job->placementGrid.at(c, 0).imageIndex, 1) << "cell " << c;
    EXPECT_EQ(job->placementGrid.at(0, 0).redOffset, 0);
}

TEST(DetailPlacement, OffLeavesThePlacementAsByMeanColour)
{
    std::mt19937 rng(7);
    ColourList cells, sigs;
    for (int k = 0; k < 100; ++k)
        cells.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
    for (int k = 0; k < 30; ++k)
        sigs.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
    auto plain = test::makePlacementJob(10, 10, cells, sigs);
    auto withSignatures = test::makePlacementJob(10, 10, cells, sigs);
    // detail signatures taken but the option off: nothing of them is used
    withSignatures->detailSignatures.grid = 3;
    TDIB grey;
    fillRaster(grey, 2, 2, {{128, 128, 128}});
    for (int i = 0; i < 30; ++i)
        appendDetailSignature(withSignatures->detailSignatures, grey, 10, 10, true);
    Random a, b;
    test::placeSeeded(*plain, a, 30);
    test::placeSeeded(*withSignatures, b, 30);
    EXPECT_EQ(a.state(), b.state());
    EXPECT_TRUE(plain->placementGrid == withSignatures->placementGrid);
    EXPECT_TRUE(plain->workingSignatures == withSignatures->workingSignatures);
}

TEST(MatchFigures, ReadTheOffsetsAndFindTheColoursThePicturesLack)
{
    MosaicSettings s;
    s.rows = 2;
    s.cols = 10;
    PlacementGrid grid;
    std::vector<uint8_t> sigs;
    appendSignature(sigs, CellSignature{100, 100, 100, 0, 0});
    // eight red cells served by grey (distance 210), twelve grey cells well
    for (int c = 0; c < 10; ++c)
        for (int r = 0; r < 2; ++r)
            grid.at(c, r) = c < 4 ? CellPlacement{0, 100 - 240, 100 - 20, 100 - 30, 1} : CellPlacement{0, 2, -3, 1, 1};
    const MatchFigures f = matchFigures(s, grid);
    EXPECT_EQ(f.cells, 20);
    EXPECT_EQ(f.worstDistance, 140 + 80 + 70);
    EXPECT_DOUBLE_EQ(f.meanDistance, (8 * 290 + 12 * 6) / 20.0);

    const std::vector<ColourGap> gaps = missingColours(s, grid, sigs);
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].red, 240);
    EXPECT_EQ(gaps[0].green, 20);
    EXPECT_EQ(gaps[0].blue, 30);
    EXPECT_EQ(gaps[0].cells, 8);
    EXPECT_EQ(gaps[0].improves, 8);

    // a mosaic equal to its source: SSIM 1, PSNR at its ceiling
    TDIB a;
    ColourList px;
    for (int k = 0; k < 40 * 8; ++k)
        px.push_back({uint8_t(k * 7), uint8_t(k), uint8_t(255 - k)});
    fillRaster(a, 40, 8, px);
    const Fidelity same = mosaicFidelity(a, a, 2, 10);
    EXPECT_NEAR(same.ssim, 1.0, 1e-9);
    EXPECT_EQ(same.psnr, 99.0);
    TDIB flat;
    fillRaster(flat, 40, 8, {{128, 128, 128}});
    EXPECT_LT(mosaicFidelity(flat, a, 2, 10).ssim, 0.5);
}

}  // namespace
}  // namespace tsx
