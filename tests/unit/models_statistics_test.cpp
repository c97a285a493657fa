#include "app/statistics.h"

#include <gtest/gtest.h>

#include <memory>

namespace tsx {
namespace {

struct StatsJob {
    MosaicSettings settings;
    std::unique_ptr<PlacementGrid> grid = std::make_unique<PlacementGrid>();

    // rows of image indices, top row first
    StatsJob(std::initializer_list<std::initializer_list<int>> cells)
    {
        settings.rows = int(cells.size());
        int r = 0;
        for (const auto& row : cells) {
            settings.cols = int(row.size());
            int c = 0;
            for (int index : row)
                grid->at(c++, r).imageIndex = index;
            ++r;
        }
    }
};

std::vector<std::string> pathsUpTo(int n)
{
    std::vector<std::string> paths;
    for (int i = 0; i < n; ++i)
        paths.push_back("/pics/p" + std::to_string(i) + ".jpg");
    return paths;
}

TEST(UsageStatistics, ListsPicturesInTheOrderTheyAreFirstMet)
{
    const StatsJob job{{4, 7, 4}, {7, 7, 1}};
    const UsageStatistics s = usageStatistics(job.settings, *job.grid, pathsUpTo(8));
    EXPECT_EQ(s.outcome, UsageStatistics::Outcome::Listed);
    const std::vector<std::string> expected{
        "Vertical Cell Count: 2  Horizontal Cell Count: 3",
        "/pics/p4.jpg Used time : 2",
        "/pics/p7.jpg Used time : 3",
        "/pics/p1.jpg Used time : 1",
        "Total Cell Count: 6",
    };
    EXPECT_EQ(s.lines, expected);
}

TEST(UsageStatistics, ScansRowByRowNotInStorageOrder)
{
    // stored column by column the first index met would be 2; row by row it is 1
    const StatsJob job{{1, 3}, {2, 1}};
    const std::vector<UsageEntry> expected{{1, 2}, {3, 1}, {2, 1}};
    EXPECT_EQ(countUsage(job.settings, *job.grid), expected);
}

TEST(UsageStatistics, EmptyJobAtStartGivesTwoLines)
{
    const MosaicSettings settings;
    const PlacementGrid grid;
    const UsageStatistics s = usageStatistics(settings, grid, {});
    const std::vector<std::string> expected{"Vertical Cell Count: 0  Horizontal Cell Count: 0",
                                            "Total Cell Count: 0"};
    EXPECT_EQ(s.lines, expected);
}

TEST(UsageStatistics, SelfMosaicNeedsNoStatistic)
{
    StatsJob job{{0}};
    job.settings.selfMosaic = true;
    const UsageStatistics s = usageStatistics(job.settings, *job.grid, pathsUpTo(1));
    EXPECT_EQ(s.outcome, UsageStatistics::Outcome::SelfMosaic);
    EXPECT_EQ(s.message, "You do not need stats for selfmosiac");
    EXPECT_TRUE(s.lines.empty());
}

TEST(UsageStatistics, MissingListEntryStopsBeforeTheTotal)
{
    const StatsJob job{{0, 5, 1}};
    const UsageStatistics s = usageStatistics(job.settings, *job.grid, pathsUpTo(2));
    EXPECT_EQ(s.outcome, UsageStatistics::Outcome::IndexOutOfBounds);
    EXPECT_EQ(s.message, "List index out of bounds (5)");
    const std::vector<std::string> expected{"Vertical Cell Count: 1  Horizontal Cell Count: 3",
                                            "/pics/p0.jpg Used time : 1"};
    EXPECT_EQ(s.lines, expected);

    const StatsJob negative{{-1}};
    EXPECT_EQ(usageStatistics(negative.settings, *negative.grid, pathsUpTo(2)).message,
              "List index out of bounds (-1)");
}

TEST(UsageStatistics, FullGridOfDistinctPicturesCountsEveryCellOnce)
{
    MosaicSettings settings;
    settings.rows = kGridSide;
    settings.cols = kGridSide;
    auto grid = std::make_unique<PlacementGrid>();
    for (int c = 0; c < kGridSide; ++c)
        for (int r = 0; r < kGridSide; ++r)
            grid->at(c, r).imageIndex = r * kGridSide + c;
    const std::vector<UsageEntry> entries = countUsage(settings, *grid);
    ASSERT_EQ(entries.size(), size_t(kGridSide) * kGridSide);
    EXPECT_EQ(entries[1], (UsageEntry{1, 1}));
    EXPECT_EQ(entries.back(), (UsageEntry{kGridSide * kGridSide - 1, 1}));
}

TEST(UsageStatistics, GridLargerThanTheTableIsCutToIt)
{
    MosaicSettings settings;
    settings.rows = 5000;
    settings.cols = 1;
    const PlacementGrid grid;
    const std::vector<UsageEntry> expected{{0, kGridSide}};
    EXPECT_EQ(countUsage(settings, grid), expected);
}

TEST(UsageStatistics, TextFileEndsEveryLineWithCrLf)
{
    EXPECT_EQ(textFileBytes("a\nb"), "a\r\nb\r\n");
    EXPECT_EQ(textFileBytes("a\r\n\r\nb\n"), "a\r\n\r\nb\r\n");
    EXPECT_EQ(textFileBytes(""), "");
}

}  // namespace
}  // namespace tsx
