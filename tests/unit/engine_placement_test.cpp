#include "engine/placement.h"

#include <memory>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "engine_literal_placement.h"
#include "engine_test_support.h"
#include "raster/errors.h"

namespace tsx {
namespace {

using test::ColourList;
using test::makePlacementJob;

// Random jobs, many of them built from a handful of colours so that equal
// distances (and therefore the tie rules) decide most cells.
TEST(Placement, MatchesTheLiteralRulesOnRandomJobs)
{
    Random random;
    std::mt19937 rng(20240611);
    for (int trial = 0; trial < 60; ++trial) {
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const bool tieHeavy = trial % 2 == 0;
        const int rows = pick(1, 24), cols = pick(1, 24);
        const int n = trial % 7 == 3 ? pick(1, 9) : (trial % 5 == 1 ? pick(rows * cols, rows * cols + 30) : pick(10, 150));
        // Every third job keeps its colours in a narrow band across 16, so
        // that equal distances come from different colours as well.
        const bool narrow = trial % 3 == 2;
        auto channel = [&] { return uint8_t(narrow ? pick(10, 22) : pick(0, 255)); };
        ColourList palette;
        for (int k = 0; k < (tieHeavy ? pick(1, 4) : 256); ++k)
            palette.push_back({channel(), channel(), channel()});
        ColourList cells, sigs;
        for (int k = 0; k < rows * cols; ++k)
            cells.push_back(palette[size_t(pick(0, int(palette.size()) - 1))]);
        for (int k = 0; k < n; ++k)
            sigs.push_back(palette[size_t(pick(0, int(palette.size()) - 1))]);

        auto fast = makePlacementJob(rows, cols, cells, sigs);
        MosaicSettings& s = fast->settings;
        s.randomLevel = pick(1, 8);
        s.useAll = pick(0, 1);
        s.limitRepeat = pick(0, 2) == 0;
        s.maxRepeat = pick(1, 3);
        s.noClose = pick(0, 3) != 0;
        // Leftovers of an earlier run must not matter.
        for (int k = 0; k < 50; ++k)
            fast->placementGrid.at(pick(0, 799), pick(0, 799)) = CellPlacement{pick(0, 5), 1, 2, 3, 1};
        auto literal = makePlacementJob(rows, cols, cells, sigs);
        literal->settings = s;
        literal->placementGrid = fast->placementGrid;

        const uint32_t seed = uint32_t(rng());
        random.setState(seed);
        placeCellsUnseeded(*fast, random, n);
        const uint32_t fastState = random.state();
        random.setState(seed);
        test::literalPlaceCells(*literal, random, n);

        SCOPED_TRACE(testing::Message() << "trial " << trial << " rows " << rows << " cols " << cols << " n " << n
                                        << " level " << s.randomLevel << " useAll " << s.useAll << " limit "
                                        << s.limitRepeat << "/" << s.maxRepeat << " noClose " << s.noClose);
        ASSERT_EQ(fastState, random.state());
        ASSERT_TRUE(fast->workingSignatures == literal->workingSignatures);
        ASSERT_TRUE(fast->placementGrid == literal->placementGrid);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                ASSERT_EQ(fast->placementGrid.at(c, r).occupied, 1);
                ASSERT_LT(fast->placementGrid.at(c, r).imageIndex, n);
            }
    }
}

// Ten pictures at distances 50, 40, 40, 60, 30, 70, 80, 90, 35, 20 from the
// one cell; after the replacements and the sort the slots hold 9, 4, 8, 1, 2,
// 0, 3, 5, and a draw j takes slot j + 1.
TEST(Placement, CandidateSlotsFollowTheReplacementAndSortOrder)
{
    Random random;
    const std::vector<int> distances{50, 40, 40, 60, 30, 70, 80, 90, 35, 20};
    const std::vector<int> sorted{9, 4, 8, 1, 2, 0, 3};
    ColourList sigs;
    for (int d : distances)
        sigs.push_back({uint8_t(d), 0, 0});
    auto job = makePlacementJob(1, 1, {{0, 0, 0}}, sigs);

    for (int level : {4, 8}) {
        job->settings.randomLevel = level;
        std::set<int> seen;
        for (uint32_t seed = 0; seen.size() < size_t(level - 1); ++seed) {
            ASSERT_LT(seed, 1000u);
            random.setState(seed);
            const int j = random.next(level - 1);
            random.setState(seed);
            placeCellsUnseeded(*job, random, 10);
            EXPECT_EQ(job->placementGrid.at(0, 0).imageIndex, sorted[size_t(j)]) << "draw " << j;
            EXPECT_EQ(job->placementGrid.at(0, 0).redOffset, distances[size_t(sorted[size_t(j)])]);
            seen.insert(j);
        }
    }
}

TEST(Placement, LowLevelsTakeTheNearestAndTheNeighbourRuleLooksOnlyBackwards)
{
    Random random;
    std::mt19937 rng(7);
    ColourList sigs;
    for (int k = 0; k < 12; ++k)
        sigs.push_back({uint8_t(rng() % 256), uint8_t(rng() % 256), uint8_t(rng() % 256)});
    ColourList cells;
    for (int k = 0; k < 20 * 20; ++k)
        cells.push_back({uint8_t(rng() % 256), uint8_t(rng() % 256), uint8_t(rng() % 256)});
    auto job = makePlacementJob(20, 20, cells, sigs);
    job->settings.noClose = false;
    for (int level : {1, 2}) {
        job->settings.randomLevel = level;
        test::placeSeeded(*job, random, 12);
        for (int k = 0; k < 400; ++k) {
            const CellPlacement& p = job->placementGrid.at(k % 20, k / 20);
            int nearest = 9999;
            for (const auto& s : sigs)
                nearest = std::min(nearest, colourDistance(s[0], s[1], s[2], cells[size_t(k)][0], cells[size_t(k)][1],
                                                           cells[size_t(k)][2]));
            EXPECT_EQ(std::abs(p.redOffset) + std::abs(p.greenOffset) + std::abs(p.blueOffset), nearest);
        }
    }

    // Every picture matches every cell equally well, so only the neighbour
    // rule separates them.
    auto flat = makePlacementJob(16, 16, ColourList(256, {90, 90, 90}), ColourList(10, {90, 90, 90}));
    flat->settings.randomLevel = 8;
    bool upperRightRepeats = false;
    for (uint32_t seed = 0; seed < 20; ++seed) {
        random.setState(seed);
        placeCellsUnseeded(*flat, random, 10);
        const PlacementGrid& g = flat->placementGrid;
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 16; ++c) {
                const int i = g.at(c, r).imageIndex;
                if (c > 0) {
                    ASSERT_NE(i, g.at(c - 1, r).imageIndex);
                }
                if (r > 0) {
                    ASSERT_NE(i, g.at(c, r - 1).imageIndex);
                }
                if (c > 0 && r > 0) {
                    ASSERT_NE(i, g.at(c - 1, r - 1).imageIndex);
                }
                if (c < 15 && r > 0 && i == g.at(c + 1, r - 1).imageIndex)
                    upperRightRepeats = true;
            }
    }
    EXPECT_TRUE(upperRightRepeats);
}

TEST(Placement, RepetitionLimitHoldsWhilePicturesRemainAndIsRelaxedAfter)
{
    Random random;
    ColourList sigs;
    for (int k = 0; k < 40; ++k)
        sigs.push_back({uint8_t(k * 6), uint8_t(255 - k * 6), 128});
    auto job = makePlacementJob(8, 10, ColourList(80, {100, 150, 128}), sigs);
    job->settings.limitRepeat = true;
    job->settings.maxRepeat = 2;
    job->settings.noClose = false;
    job->settings.randomLevel = 8;
    test::placeSeeded(*job, random, 40);
    std::vector<int> counts(40);
    for (int k = 0; k < 80; ++k)
        ++counts[size_t(job->placementGrid.at(k % 10, k / 10).imageIndex)];
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(counts[size_t(i)], 2) << "picture " << i;
        EXPECT_EQ(signatureAt(job->workingSignatures, size_t(i)).useCount, 2);
    }

    // Ten pictures, at most one use each, 256 cells: the limit gives way and
    // every cell still names a real picture.
    auto tight = makePlacementJob(16, 16, ColourList(256, {10, 20, 30}), ColourList(10, {10, 20, 30}));
    tight->settings.limitRepeat = true;
    tight->settings.maxRepeat = 1;
    tight->settings.useAll = true;
    test::placeSeeded(*tight, random, 10);
    int total = 0;
    for (int i = 0; i < 10; ++i)
        total += signatureAt(tight->workingSignatures, size_t(i)).useCount;
    EXPECT_EQ(total, 256);
    for (int k = 0; k < 256; ++k) {
        const CellPlacement& p = tight->placementGrid.at(k % 16, k / 16);
        EXPECT_EQ(p.occupied, 1);
        EXPECT_GE(p.imageIndex, 0);
        EXPECT_LT(p.imageIndex, 10);
    }
}

TEST(Placement, UseAllGivesEveryPictureItsNearestFreeCellFirstInRowOrder)
{
    Random random;
    // Cells in a 4 x 4 grid; picture 0 matches cells 5 and 10 equally, and
    // picture 1 has the same colour, so it gets cell 10.
    ColourList cells(16, {0, 0, 0});
    cells[5] = cells[10] = {200, 100, 50};
    ColourList sigs(12, {255, 255, 255});
    sigs[0] = sigs[1] = {200, 100, 50};
    auto job = makePlacementJob(4, 4, cells, sigs);
    job->settings.useAll = true;
    job->settings.noClose = false;
    test::placeSeeded(*job, random, 12);
    EXPECT_EQ(job->placementGrid.at(1, 1).imageIndex, 0);
    EXPECT_EQ(job->placementGrid.at(2, 2).imageIndex, 1);
    std::set<int> used;
    for (int k = 0; k < 16; ++k)
        used.insert(job->placementGrid.at(k % 4, k / 4).imageIndex);
    EXPECT_EQ(used.size(), 12u);

    // More pictures than cells: the ones without a free cell are left out.
    auto crowded = makePlacementJob(1, 3, ColourList(3, {0, 0, 0}), ColourList(5, {0, 0, 0}));
    crowded->settings.useAll = true;
    test::placeSeeded(*crowded, random, 5);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(crowded->placementGrid.at(c, 0).imageIndex, c);
    EXPECT_EQ(signatureAt(crowded->workingSignatures, 3).useCount, 0);
    EXPECT_EQ(signatureAt(crowded->workingSignatures, 4).useCount, 0);
}

TEST(Placement, SelfMosaicWritesOnlyTheOffsetsAndCellsOutsideAreOnlyFreed)
{
    Random random;
    auto job = makePlacementJob(16, 16, ColourList(256, {100, 50, 20}), ColourList(10, {0, 0, 0}));
    test::setSourceColour(*job, 120, 40, 200);
    job->settings.selfMosaic = true;
    job->placementGrid.at(3, 4) = CellPlacement{77, 0, 0, 0, 1};
    job->placementGrid.at(16, 0) = CellPlacement{5, 6, 7, 8, 1};
    job->placementGrid.at(799, 799) = CellPlacement{9, 9, 9, 9, 1};
    test::placeSeeded(*job, random, 10);
    EXPECT_EQ(job->placementGrid.at(3, 4), (CellPlacement{77, 20, -10, 180, 0}));
    EXPECT_EQ(job->placementGrid.at(16, 0), (CellPlacement{5, 6, 7, 8, 0}));
    EXPECT_EQ(job->placementGrid.at(799, 799), (CellPlacement{9, 9, 9, 9, 0}));
    EXPECT_TRUE(job->workingSignatures == job->signatureStream);

    job->settings.selfMosaic = false;
    test::placeSeeded(*job, random, 10);
    EXPECT_EQ(job->placementGrid.at(16, 0), (CellPlacement{5, 6, 7, 8, 0}));
    EXPECT_EQ(job->placementGrid.at(3, 4).occupied, 1);
}

TEST(Placement, RefusesACellColourRasterSmallerThanTheGrid)
{
    Random random;
    auto job = makePlacementJob(4, 4, ColourList(16, {0, 0, 0}), ColourList(10, {0, 0, 0}));
    job->settings.rows = 5;
    EXPECT_THROW(test::placeSeeded(*job, random, 10), Error);
}

}  // namespace
}  // namespace tsx
