// The render thread while another thread keeps painting the mosaic, as the
// windows do: the pictures are decoded ahead by helper threads and dropped
// and decoded again under a tiny cache, and still every cell ends right.
// Built into the ThreadSanitizer stage as well.

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/render.h"
#include "engine_test_support.h"
#include "raster/errors.h"

namespace tsx {
namespace {

namespace fs = std::filesystem;

class CountingHost : public RenderHost {
public:
    std::vector<std::string> paths;
    std::atomic<int> lastPercent{-1};
    std::atomic<int> finishedCalls{0};
    bool ok = false;
    std::string error;

    std::string imagePath(int index) override
    {
        if (index < 0 || size_t(index) >= paths.size())
            throw EListError(formatMessage(msg::kListIndex, index));
        return paths[size_t(index)];
    }
    std::string sourcePath() override { return {}; }
    void progress(int percent) override { lastPercent = percent; }
    void repaint() override {}
    void rowsFinished(int, int) override {}
    void message(const std::string&, const std::string&) override {}
    void finished(bool success, const std::string& text) override
    {
        ok = success;
        error = text;
        ++finishedCalls;
    }
};

class RenderLoadTest : public testing::Test {
protected:
    static constexpr int kRows = 24, kCols = 20, kCell = 6, kPictures = 37;

    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("tesserix-render-load-" +
                 std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
                 std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        for (int k = 0; k < kPictures; ++k) {
            TDIB dib;
            test::fillRaster(dib, 5 + k % 7, 4 + k % 5, {colour(k)});
            const std::string path = (m_dir / ("p" + std::to_string(k) + ".bmp")).string();
            dib.WriteBmp(path);
            m_host.paths.push_back(path);
        }
        m_job.settings = MosaicSettings::wizardDefaults();
        m_job.settings.rows = kRows;
        m_job.settings.cols = kCols;
        m_job.settings.cellWidth = kCell;
        m_job.settings.cellHeight = kCell;
        m_job.settings.mosaicWidth = kCols * kCell;
        m_job.settings.mosaicHeight = kRows * kCell;
        m_job.settings.colorEnhanceOff = true;
        m_job.settings.stretchCells = true;
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kCols; ++c)
                m_job.placementGrid.at(c, r) = CellPlacement{pictureOf(c, r), 0, 0, 0, 1};
        test::fillRaster(m_job.mosaicImage, kCols * kCell, kRows * kCell, {{1, 2, 3}});
    }
    void TearDown() override { fs::remove_all(m_dir); }

    static test::Colour colour(int k) { return {uint8_t(7 * k), uint8_t(255 - 5 * k), uint8_t(40 + 3 * k)}; }
    // Pictures come back after long gaps, so a small cache must drop them.
    static int pictureOf(int c, int r) { return (c * 7 + r * 11) % kPictures; }

    bool cellIs(int c, int r, const test::Colour& want) const
    {
        for (int y = r * kCell; y < (r + 1) * kCell; ++y) {
            const uint8_t* p = m_job.mosaicImage.ScanLine(y) + c * kCell * 3;
            for (int x = 0; x < kCell; ++x, p += 3)
                if (p[2] != want[0] || p[1] != want[1] || p[0] != want[2])
                    return false;
        }
        return true;
    }

    // Renders on the render thread while this thread reads the mosaic under
    // its lock, as a paint does, until the render ends.
    void renderWhilePainting(const RenderOptions& options)
    {
        unsigned long long paints = 0, checksum = 0;
        {
            pagethread thread(m_job, m_random, m_host, options);
            while (!thread.done()) {
                std::lock_guard lock(m_job.mosaicImageLock);
                const TDIB& mosaic = m_job.mosaicImage;
                for (int y = 0; y < mosaic.Height(); y += 5)
                    checksum += mosaic.ScanLine(y)[(y * 7) % (mosaic.Width() * 3)];
                ++paints;
            }
        }
        EXPECT_GT(paints, 0u) << checksum;
        EXPECT_EQ(m_host.finishedCalls.load(), 1);
    }

    fs::path m_dir;
    MosaicJob m_job;
    Random m_random;
    CountingHost m_host;
};

TEST_F(RenderLoadTest, EveryCellIsRightWhilePaintedAndWithPicturesDecodedAgain)
{
    for (const size_t cacheBytes : {size_t(0), size_t(600), size_t(256) << 20}) {
        SCOPED_TRACE("cache of " + std::to_string(cacheBytes) + " bytes");
        test::fillRaster(m_job.mosaicImage, kCols * kCell, kRows * kCell, {{1, 2, 3}});
        m_host.finishedCalls = 0;
        renderWhilePainting(RenderOptions{cacheBytes, 3});
        EXPECT_TRUE(m_host.ok) << m_host.error;
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kCols; ++c)
                ASSERT_TRUE(cellIs(c, r, colour(pictureOf(c, r)))) << "cell " << c << "," << r;
    }
}

TEST_F(RenderLoadTest, AFileGoneMidwayStopsAtItsFirstCellWithTheHelpersStillDecoding)
{
    const int gone = pictureOf(0, 9);
    int firstUse = -1;
    for (int cell = 0; cell < kRows * kCols && firstUse < 0; ++cell)
        if (pictureOf(cell % kCols, cell / kCols) == gone)
            firstUse = cell;
    fs::remove(m_host.paths[size_t(gone)]);

    renderWhilePainting(RenderOptions{600, 3});
    EXPECT_FALSE(m_host.ok);
    EXPECT_EQ(m_host.error, "Cannot open file " + m_host.paths[size_t(gone)]);
    for (int cell = 0; cell < kRows * kCols; ++cell) {
        const int c = cell % kCols, r = cell / kCols;
        if (cell < firstUse)
            ASSERT_TRUE(cellIs(c, r, colour(pictureOf(c, r)))) << "drawn cell " << c << "," << r;
        else
            ASSERT_TRUE(cellIs(c, r, {1, 2, 3})) << "cell " << c << "," << r << " after the failure";
    }
}

}  // namespace
}  // namespace tsx
