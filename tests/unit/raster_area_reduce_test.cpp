// The in-place reduction behind the overview gives the raster filter's bytes.

#include "raster/area_reduce.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "raster_test_support.h"

namespace tsx {
namespace {

using test::noise;

bool sameRows(const TDIB& a, const TDIB& b, int first, int end)
{
    for (int y = first; y < end; ++y)
        for (int x = 0; x < a.Width() * 3; ++x)
            if (a.ScanLine(y)[x] != b.ScanLine(y)[x])
                return false;
    return true;
}

TEST(AreaReduce, MatchesTheRasterFilter)
{
    struct Case {
        const char* name;
        int srcWidth, srcHeight, dstWidth, dstHeight;
    };
    const Case cases[] = {
        { "overview of a wide mosaic", 1024, 512, 248, 124 },
        { "coprime sizes", 997, 613, 83, 51 },
        { "integer reduction", 960, 480, 240, 120 },
        { "one axis kept", 300, 77, 300, 20 },
        { "no change", 31, 17, 31, 17 },
        { "to one pixel", 64, 48, 1, 1 },
        { "one source column", 1, 200, 1, 7 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int srcWidth = c.srcWidth, srcHeight = c.srcHeight, dstWidth = c.dstWidth, dstHeight = c.dstHeight;
        ASSERT_TRUE(canReduceAreaAverage(srcWidth, srcHeight, dstWidth, dstHeight));
        const TDIB source = noise(srcWidth, srcHeight, unsigned(srcWidth * 7919 + srcHeight));
        TDIB expected;
        expected.Allocate(dstWidth, dstHeight, 24);
        stretchAreaAverage(source, { 0, 0, srcWidth, srcHeight }, expected, { 0, 0, dstWidth, dstHeight });

        const auto rowAt = [&](int y) { return source.ScanLine(y); };
        TDIB whole;
        whole.Allocate(dstWidth, dstHeight, 24);
        reduceAreaAverageRows(srcWidth, srcHeight, rowAt, whole, 0, dstHeight);
        EXPECT_TRUE(sameRows(whole, expected, 0, dstHeight));

        // in bands of uneven height, reading only the rows each band covers
        TDIB pieces;
        pieces.Allocate(dstWidth, dstHeight, 24);
        bool readOutside = false;
        for (int top = 0, step = 1; top < dstHeight; top += step, step = step % 5 + 2) {
            const int end = std::min(dstHeight, top + step);
            int first = 0, last = 0;
            coveredSourceRows(srcHeight, dstHeight, top, end, first, last);
            const auto guardedRow = [&](int y) {
                if (y < first || y >= last)
                    readOutside = true;
                return source.ScanLine(std::clamp(y, 0, srcHeight - 1));
            };
            reduceAreaAverageRows(srcWidth, srcHeight, guardedRow, pieces, top, end);
        }
        EXPECT_FALSE(readOutside);
        EXPECT_TRUE(sameRows(pieces, expected, 0, dstHeight));
    }
}

TEST(AreaReduce, StreamsRowsAsTheyArrive)
{
    // a target row is written as soon as its last source row was fed,
    // and not before: after s rows, floor(s * h / H) rows are complete
    const int srcWidth = 500, srcHeight = 331, dstWidth = 61, dstHeight = 47;
    const TDIB source = noise(srcWidth, srcHeight, 5);
    TDIB expected;
    expected.Allocate(dstWidth, dstHeight, 24);
    stretchAreaAverage(source, { 0, 0, srcWidth, srcHeight }, expected, { 0, 0, dstWidth, dstHeight });
    TDIB streamed;
    streamed.Allocate(dstWidth, dstHeight, 24);
    AreaReducer reducer;
    ASSERT_TRUE(reducer.start(srcWidth, srcHeight, streamed, 0));
    EXPECT_TRUE(reducer.reduces(srcWidth, srcHeight, streamed));
    for (int fed = 0; fed < srcHeight; ++fed) {
        ASSERT_EQ(reducer.nextSourceRow(), fed);
        reducer.feed(source.ScanLine(fed));
        ASSERT_EQ(reducer.completedRows(), (fed + 1) * dstHeight / srcHeight);
    }
    EXPECT_TRUE(sameRows(streamed, expected, 0, dstHeight));

    // restarted in the middle, it goes on from the first row it needs
    streamed.Allocate(dstWidth, dstHeight + 1, 24);
    EXPECT_FALSE(reducer.reduces(srcWidth, srcHeight, streamed));
    streamed.Allocate(dstWidth, dstHeight, 24);
    ASSERT_TRUE(reducer.start(srcWidth, srcHeight, streamed, 20));
    int first = 0, end = 0;
    coveredSourceRows(srcHeight, dstHeight, 20, 21, first, end);
    EXPECT_EQ(reducer.nextSourceRow(), first);
    while (reducer.nextSourceRow() < srcHeight)
        reducer.feed(source.ScanLine(reducer.nextSourceRow()));
    EXPECT_TRUE(sameRows(streamed, expected, 20, dstHeight));
}

TEST(AreaReduce, RefusesEnlargement)
{
    EXPECT_FALSE(canReduceAreaAverage(24, 24, 248, 140));
    EXPECT_FALSE(canReduceAreaAverage(400, 24, 248, 140));
    EXPECT_FALSE(canReduceAreaAverage(100, 100, 0, 10));
}

}  // namespace
}  // namespace tsx
