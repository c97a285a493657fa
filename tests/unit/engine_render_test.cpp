#include "engine/render.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/render_to_file.h"
#include "engine_test_support.h"
#include "raster/byte_io.h"
#include "raster/errors.h"

namespace tsx {
namespace {

namespace fs = std::filesystem;
using test::Colour;
using test::ColourList;

class RecordingHost : public RenderHost {
public:
    std::vector<std::string> paths;
    std::string source;
    std::vector<int> progressValues;
    int repaints = 0;
    std::vector<std::pair<int, int>> finishedRows;  // first, count
    std::vector<std::pair<std::string, std::string>> messages;
    int finishedCalls = 0;
    bool ok = false;
    std::string error;

    std::string imagePath(int index) override
    {
        if (index < 0 || size_t(index) >= paths.size())
            throw EListError(formatMessage(msg::kListIndex, index));
        return paths[size_t(index)];
    }
    std::string sourcePath() override { return source; }
    void progress(int percent) override { progressValues.push_back(percent); }
    void repaint() override { ++repaints; }
    void rowsFinished(int firstRow, int count) override { finishedRows.emplace_back(firstRow, count); }
    void message(const std::string& text, const std::string& caption) override
    {
        messages.emplace_back(text, caption);
    }
    void finished(bool success, const std::string& text) override
    {
        ++finishedCalls;
        ok = success;
        error = text;
    }
};

class RenderTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("tesserix-render-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
                 "-" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string writePicture(const std::string& name, int width, int height, const ColourList& pixels)
    {
        TDIB dib;
        test::fillRaster(dib, width, height, pixels);
        const std::string path = (m_dir / name).string();
        dib.WriteBmp(path);
        return path;
    }

    // rows × cols cells of w × h pixels, mosaicImage filled with a marker colour.
    std::unique_ptr<MosaicJob> makeJob(int rows, int cols, int w, int h)
    {
        auto job = std::make_unique<MosaicJob>();
        job->settings = MosaicSettings::wizardDefaults();
        job->settings.rows = rows;
        job->settings.cols = cols;
        job->settings.cellWidth = w;
        job->settings.cellHeight = h;
        job->settings.mosaicWidth = cols * w;
        job->settings.mosaicHeight = rows * h;
        test::fillRaster(job->mosaicImage, cols * w, rows * h, {kMarker});
        return job;
    }

    static Colour pixel(const TDIB& dib, int x, int y)
    {
        const uint8_t* p = dib.ScanLine(y) + 3 * x;
        return {p[2], p[1], p[0]};
    }

    static constexpr Colour kMarker{1, 2, 3};
    fs::path m_dir;
};

TEST_F(RenderTest, ProgressRepaintsAndTheFinalMessageFollowTheRows)
{
    Random random;
    auto job = makeJob(16, 2, 2, 2);
    RecordingHost host;
    host.paths = {writePicture("a.bmp", 2, 2, {{10, 20, 30}})};
    random.setState(4242);
    renderMosaic(*job, random, host);

    const std::vector<int> expected{0, 0, 6, 13, 20, 26, 33, 40, 46, 53, 60, 66, 73, 80, 86, 93, 100, 0};
    EXPECT_EQ(host.progressValues, expected);
    EXPECT_EQ(host.repaints, 17);
    std::vector<std::pair<int, int>> everyRow;
    for (int r = 0; r < 16; ++r)
        everyRow.emplace_back(2 * r, 2);
    EXPECT_EQ(host.finishedRows, everyRow);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, "Photomosaic created success!");
    EXPECT_EQ(host.messages[0].second, "Finish");
    EXPECT_EQ(host.finishedCalls, 1);
    EXPECT_TRUE(host.ok);
    // No flip allowed, no number drawn.
    EXPECT_EQ(random.state(), 4242u);
    EXPECT_EQ(pixel(job->mosaicImage, 3, 31), (Colour{10, 20, 30}));

    // A single row (possible from a project file) must not divide by zero.
    auto single = makeJob(1, 3, 2, 2);
    host.progressValues.clear();
    renderMosaic(*single, random, host);
    EXPECT_EQ(host.progressValues, (std::vector<int>{0, 100, 0}));
}

TEST_F(RenderTest, CellsShiftTowardsTheirColourUnlessEnhancementIsOff)
{
    Random random;
    auto job = makeJob(2, 3, 4, 4);
    RecordingHost host;
    host.paths = {writePicture("grey.bmp", 8, 8, {{100, 100, 100}}), writePicture("dark.bmp", 8, 8, {{5, 250, 9}})};
    job->placementGrid.at(0, 0) = CellPlacement{0, -20, 0, 10, 1};
    job->placementGrid.at(1, 0) = CellPlacement{1, 30, -20, 20, 1};  // clamped at both ends
    job->placementGrid.at(2, 0) = CellPlacement{0, 0, 0, 0, 1};
    for (int c = 0; c < 2; ++c)
        job->placementGrid.at(c, 1) = CellPlacement{0, -20, 5, 7, 1};
    // Offsets no placement makes, as a damaged project could hold them.
    job->placementGrid.at(2, 1) = CellPlacement{0, INT32_MIN, INT32_MAX, 0, 1};
    renderMosaic(*job, random, host);
    ASSERT_TRUE(host.ok) << host.error;
    EXPECT_EQ(pixel(job->mosaicImage, 8, 4), (Colour{255, 0, 100}));
    EXPECT_EQ(pixel(job->mosaicImage, 1, 1), (Colour{120, 100, 90}));
    EXPECT_EQ(pixel(job->mosaicImage, 5, 2), (Colour{0, 255, 0}));
    EXPECT_EQ(pixel(job->mosaicImage, 11, 3), (Colour{100, 100, 100}));
    EXPECT_EQ(pixel(job->mosaicImage, 0, 4), (Colour{120, 95, 93}));

    job->settings.sourceMono = true;
    renderMosaic(*job, random, host);
    EXPECT_EQ(pixel(job->mosaicImage, 0, 4), (Colour{120, 120, 120}));

    job->settings.colorEnhanceOff = true;
    job->settings.monoCells = true;
    renderMosaic(*job, random, host);
    EXPECT_EQ(pixel(job->mosaicImage, 5, 2), (Colour{5, 250, 9}));
}

TEST(CellSourceRect, CutEdgesCropsTheCentreToTheCellShape)
{
    EXPECT_EQ(cellSourceRect(200, 100, 50, 50, false), (TRect{50, 0, 150, 100}));
    EXPECT_EQ(cellSourceRect(100, 300, 40, 60, false), (TRect{0, 75, 100, 225}));
    EXPECT_EQ(cellSourceRect(96, 96, 48, 48, false), (TRect{0, 0, 96, 96}));
    EXPECT_EQ(cellSourceRect(200, 100, 50, 50, true), (TRect{0, 0, 200, 100}));
    // Products beyond 32 bits still give the centred crop.
    EXPECT_EQ(cellSourceRect(200000000, 2, 800, 800, false), (TRect{99999999, 0, 100000001, 2}));
}

TEST_F(RenderTest, CutEdgeModeDrawsOnlyTheCentreOfThePicture)
{
    Random random;
    // 4 × 2: a red column, two green ones, a blue one.
    ColourList stripes;
    for (int y = 0; y < 2; ++y)
        for (Colour c : {Colour{255, 0, 0}, Colour{0, 255, 0}, Colour{0, 255, 0}, Colour{0, 0, 255}})
            stripes.push_back(c);
    auto job = makeJob(2, 2, 2, 2);
    job->settings.colorEnhanceOff = true;
    job->settings.stretchCells = false;
    RecordingHost host;
    host.paths = {writePicture("stripes.bmp", 4, 2, stripes)};
    renderMosaic(*job, random, host);
    ASSERT_TRUE(host.ok) << host.error;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixel(job->mosaicImage, x, y), (Colour{0, 255, 0})) << x << "," << y;
}

TEST_F(RenderTest, FlipsDrawNineAndTurnTheCellAboveFour)
{
    Random random;
    // 2 × 2 picture with four different corners.
    const ColourList corners{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    auto job = makeJob(2, 1, 2, 2);
    job->settings.colorEnhanceOff = true;
    job->settings.allowVFlip = true;
    job->settings.allowHFlip = true;
    RecordingHost host;
    host.paths = {writePicture("corners.bmp", 2, 2, corners)};
    for (uint32_t seed = 1; seed < 40; ++seed) {
        random.setState(seed);
        bool v[2], h[2];
        for (int cell = 0; cell < 2; ++cell) {
            v[cell] = random.next(9) > 4;
            h[cell] = random.next(9) > 4;
        }
        const uint32_t after = random.state();
        random.setState(seed);
        renderMosaic(*job, random, host);
        ASSERT_TRUE(host.ok) << host.error;
        EXPECT_EQ(random.state(), after);
        for (int cell = 0; cell < 2; ++cell) {
            const int x = h[cell] ? 1 : 0, y = v[cell] ? 1 : 0;
            EXPECT_EQ(pixel(job->mosaicImage, x, 2 * cell + y), corners[0]) << "seed " << seed;
        }
    }
}

TEST_F(RenderTest, AFailingFileStopsTheRenderAndKeepsTheCellsBefore)
{
    Random random;
    auto job = makeJob(16, 2, 2, 2);
    RecordingHost host;
    for (int k = 0; k < 3; ++k)
        host.paths.push_back(writePicture("p" + std::to_string(k) + ".bmp", 2, 2, {{uint8_t(50 * k), 0, 0}}));
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 2; ++c)
            job->placementGrid.at(c, r) = CellPlacement{r % 3, 0, 0, 0, 1};
    fs::remove(host.paths[2]);
    renderMosaic(*job, random, host);

    EXPECT_FALSE(host.ok);
    EXPECT_NE(host.error.find(host.paths[2]), std::string::npos) << host.error;
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.progressValues.back(), 13);
    EXPECT_EQ(pixel(job->mosaicImage, 3, 3), (Colour{50, 0, 0}));
    EXPECT_EQ(pixel(job->mosaicImage, 0, 4), kMarker);
    EXPECT_EQ(pixel(job->mosaicImage, 3, 31), kMarker);

    // An index the list does not have fails the same way, at its cell.
    host.paths.pop_back();
    host.paths.push_back(writePicture("p2.bmp", 2, 2, {{0, 0, 0}}));
    job->placementGrid.at(1, 5).imageIndex = 9;
    renderMosaic(*job, random, host);
    EXPECT_FALSE(host.ok);
    EXPECT_NE(host.error.find("List index out of bounds (9)"), std::string::npos) << host.error;
    EXPECT_EQ(pixel(job->mosaicImage, 0, 10), (Colour{0, 0, 0}));
    EXPECT_EQ(pixel(job->mosaicImage, 2, 10), kMarker);
}

TEST_F(RenderTest, APictureWithoutPixelsLeavesItsCellBlack)
{
    Random random;
    // A GIF with a screen but no image: it loads as an empty picture.
    const std::string empty = (m_dir / "empty.gif").string();
    writeWholeFile(empty, {'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0, 0, 0, ';'});
    TPicture probe;
    LoadPicture(empty, probe);
    if (probe.Width() != 0)
        GTEST_SKIP() << "this GIF reader gives the trailer-only file pixels";

    auto job = makeJob(2, 2, 2, 2);
    RecordingHost host;
    host.paths = {writePicture("a.bmp", 2, 2, {{200, 200, 200}}), empty};
    job->placementGrid.at(1, 0).imageIndex = 1;
    renderMosaic(*job, random, host);
    ASSERT_TRUE(host.ok) << host.error;
    EXPECT_EQ(pixel(job->mosaicImage, 0, 0), (Colour{200, 200, 200}));
    EXPECT_EQ(pixel(job->mosaicImage, 2, 0), (Colour{0, 0, 0}));
}

TEST_F(RenderTest, RefusesAMosaicImageTooSmallForTheCells)
{
    Random random;
    auto job = makeJob(4, 4, 3, 3);
    test::fillRaster(job->mosaicImage, 11, 12, {kMarker});
    RecordingHost host;
    host.paths = {writePicture("a.bmp", 2, 2, {{1, 1, 1}})};
    renderMosaic(*job, random, host);
    EXPECT_FALSE(host.ok);
    EXPECT_EQ(pixel(job->mosaicImage, 10, 11), kMarker);
}

TEST_F(RenderTest, CachedPicturesGiveThePixelsOfDecodingEveryCell)
{
    Random random;
    // Pictures of varied sizes and gradients, so scaling and cropping matter.
    RecordingHost host;
    for (int k = 0; k < 7; ++k) {
        const int w = 5 + 3 * k, h = 17 - k;
        ColourList pixels;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels.push_back({uint8_t(x * 255 / w), uint8_t(y * 255 / h), uint8_t(40 * k)});
        host.paths.push_back(writePicture("g" + std::to_string(k) + ".bmp", w, h, pixels));
    }
    auto job = makeJob(9, 11, 6, 5);
    job->settings.stretchCells = false;
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 11; ++c)
            job->placementGrid.at(c, r) = CellPlacement{(r * 5 + c * 3) % 7, (c - r) * 9, r * 4 - 20, 3 - c, 1};

    // Decoding per cell, the plain way.
    TDIB expected;
    test::fillRaster(expected, 66, 45, {kMarker});
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 11; ++c) {
            const CellPlacement& p = job->placementGrid.at(c, r);
            TPicture picture;
            LoadPicture(host.paths[size_t(p.imageIndex)], picture);
            TDIB cell;
            cell.Allocate(6, 5, 24);
            stretchAreaAverage(*picture.Graphic()->PixelRaster(),
                               cellSourceRect(picture.Width(), picture.Height(), 6, 5, false), cell,
                               TRect{0, 0, 6, 5});
            adjustColours(cell, -p.redOffset, -p.greenOffset, -p.blueOffset, false);
            for (int y = 0; y < 5; ++y)
                std::copy_n(cell.ScanLine(y), 18, expected.RowPointer(r * 5 + y) + c * 18);
        }

    for (RenderOptions options : {RenderOptions{}, RenderOptions{1, 1}, RenderOptions{200, 3}}) {
        test::fillRaster(job->mosaicImage, 66, 45, {kMarker});
        renderMosaic(*job, random, host, options);
        ASSERT_TRUE(host.ok) << host.error;
        for (int y = 0; y < 45; ++y)
            ASSERT_TRUE(std::equal(expected.ScanLine(y), expected.ScanLine(y) + 66 * 3, job->mosaicImage.ScanLine(y)))
                << "row " << y << " cache " << options.cacheBytes;
    }
}

TEST_F(RenderTest, SelfMosaicDrawsTheSourceAndNeedsOne)
{
    Random random;
    auto job = makeJob(2, 2, 3, 3);
    job->settings.selfMosaic = true;
    job->placementGrid.at(1, 1) = CellPlacement{0, 10, 0, 0, 0};
    RecordingHost host;
    renderMosaic(*job, random, host);
    EXPECT_FALSE(host.ok);
    EXPECT_NE(host.error.find("no source image"), std::string::npos) << host.error;

    host.source = writePicture("source.bmp", 6, 6, {{60, 70, 80}});
    pagethread thread(*job, random, host);
    thread.wait();
    EXPECT_TRUE(thread.done());
    EXPECT_TRUE(host.ok) << host.error;
    EXPECT_EQ(pixel(job->mosaicImage, 0, 0), (Colour{60, 70, 80}));
    EXPECT_EQ(pixel(job->mosaicImage, 5, 5), (Colour{50, 70, 80}));
}

}  // namespace
}  // namespace tsx

namespace tsx {
namespace {

// The whole raster's pixel bytes, top row first.
std::vector<uint8_t> pixelsOf(const TDIB& dib, int rows)
{
    std::vector<uint8_t> out;
    for (int y = 0; y < rows; ++y)
        out.insert(out.end(), dib.ScanLine(y), dib.ScanLine(y) + dib.Width() * 3);
    return out;
}

TEST_F(RenderTest, AnyNumberOfThreadsAndBandsGiveTheOneThreadPictureAndSequence)
{
    RecordingHost host;
    for (int k = 0; k < 7; ++k) {
        ColourList pixels;
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 8; ++x)
                pixels.push_back({uint8_t(x * 30), uint8_t(y * 28), uint8_t(35 * k)});
        host.paths.push_back(writePicture("p" + std::to_string(k) + ".bmp", 8, 9, pixels));
    }
    auto job = makeJob(9, 13, 5, 4);
    job->settings.allowVFlip = true;
    job->settings.allowHFlip = true;
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 13; ++c)
            job->placementGrid.at(c, r) = CellPlacement{(r * 3 + c * 5) % 7, c - r, r * 3 - 9, 4 - c, 1};

    for (uint32_t seed : {1u, 77u, 20261208u}) {
        Random random;
        random.setState(seed);
        renderMosaic(*job, random, host, RenderOptions{size_t(1) << 20, 1, 1});
        ASSERT_TRUE(host.ok) << host.error;
        const std::vector<uint8_t> expected = pixelsOf(job->mosaicImage, 36);
        const uint32_t after = random.state();

        for (int threads : {2, 3, 8}) {
            test::fillRaster(job->mosaicImage, 65, 36, {kMarker});
            host.finishedRows.clear();
            random.setState(seed);
            renderMosaic(*job, random, host, RenderOptions{size_t(1) << 20, 2, threads});
            ASSERT_TRUE(host.ok) << host.error;
            EXPECT_EQ(pixelsOf(job->mosaicImage, 36), expected) << "seed " << seed << ", " << threads << " threads";
            EXPECT_EQ(random.state(), after);
            ASSERT_EQ(host.finishedRows.size(), 9u);
            for (int r = 0; r < 9; ++r)
                EXPECT_EQ(host.finishedRows[size_t(r)], std::make_pair(4 * r, 4));  // still in order
        }

        // band by band: the same rows, handed over top-down, the window's raster untouched
        for (int bandRows : {1, 4, 9}) {
            test::fillRaster(job->mosaicImage, 65, 36, {kMarker});
            std::vector<uint8_t> streamed;
            RenderOptions options{size_t(1) << 20, 2, 3};
            options.bandRows = bandRows;
            options.bandFinished = [&](const TDIB& band, int rows) {
                EXPECT_EQ(band.Width(), 65);
                const std::vector<uint8_t> part = pixelsOf(band, rows);
                streamed.insert(streamed.end(), part.begin(), part.end());
            };
            random.setState(seed);
            renderMosaic(*job, random, host, options);
            ASSERT_TRUE(host.ok) << host.error;
            EXPECT_EQ(streamed, expected) << "bands of " << bandRows;
            EXPECT_EQ(random.state(), after);
            EXPECT_EQ(pixel(job->mosaicImage, 64, 35), kMarker);
        }
    }

    // A picture gone from disk stops every thread count at the same cell,
    // with the generator where the one-thread render leaves it.
    std::filesystem::remove(host.paths[4]);
    std::vector<uint8_t> stopped;
    uint32_t stoppedState = 0;
    for (int threads : {1, 4}) {
        test::fillRaster(job->mosaicImage, 65, 36, {kMarker});
        Random random;
        random.setState(99);
        renderMosaic(*job, random, host, RenderOptions{size_t(1) << 20, 2, threads});
        EXPECT_FALSE(host.ok);
        EXPECT_NE(host.error.find("p4.bmp"), std::string::npos) << host.error;
        if (threads == 1) {
            stopped = pixelsOf(job->mosaicImage, 36);
            stoppedState = random.state();
            EXPECT_EQ(pixel(job->mosaicImage, 64, 35), kMarker);
        } else {
            EXPECT_EQ(pixelsOf(job->mosaicImage, 36), stopped);
            EXPECT_EQ(random.state(), stoppedState);
        }
    }
}

}  // namespace
}  // namespace tsx

namespace tsx {
namespace {

TEST_F(RenderTest, StreamedFileIsTheInMemoryBitmapAndAFullDiskKeepsTheOldFile)
{
    RecordingHost host;
    for (int k = 0; k < 5; ++k)
        host.paths.push_back(writePicture("q" + std::to_string(k) + ".bmp", 7, 6, {{uint8_t(50 * k), 90, 200}}));
    auto job = makeJob(17, 11, 9, 5);  // 99 pixels wide: padded rows
    job->settings.allowHFlip = true;
    for (int r = 0; r < 17; ++r)
        for (int c = 0; c < 11; ++c)
            job->placementGrid.at(c, r) = CellPlacement{(r + 2 * c) % 5, 3 * c - r, 0, r - c, 1};

    Random random;
    random.setState(5);
    renderMosaic(*job, random, host);
    ASSERT_TRUE(host.ok) << host.error;
    const std::string whole = (m_dir / "whole.bmp").string(), streamed = (m_dir / "streamed.bmp").string();
    job->mosaicImage.WriteBmp(whole);

    for (int bandRows : {1, 5, 0}) {
        random.setState(5);
        host.messages.clear();
        renderMosaicToFile(*job, random, host, streamed, {}, {}, bandRows);
        ASSERT_TRUE(host.ok) << host.error;
        EXPECT_EQ(readWholeFile(streamed), readWholeFile(whole)) << "bands of " << bandRows;
        ASSERT_EQ(host.messages.size(), 1u);  // told once the file is complete
    }

    // The disk fills up halfway through the file: the run fails naming it,
    // the old file stays and no temporary file is left.
    const std::vector<uint8_t> old{'o', 'l', 'd'};
    writeWholeFile(streamed, old);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 8000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    for (ImageFileKind kind : {ImageFileKind::Bmp, ImageFileKind::Tiff}) {
        ImageWriteOptions options;
        options.kind = kind;
        renderMosaicToFile(*job, random, host, streamed, options, {}, 2);
        EXPECT_FALSE(host.ok);
        EXPECT_NE(host.error.find("Cannot create file " + streamed), std::string::npos) << host.error;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(readWholeFile(streamed), old);
    for (const auto& entry : fs::directory_iterator(m_dir))
        EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();

    // a folder that is not there is told before any cell is drawn
    host.progressValues.clear();
    renderMosaicToFile(*job, random, host, (m_dir / "none" / "x.bmp").string(), {});
    EXPECT_FALSE(host.ok);
    EXPECT_TRUE(host.progressValues.empty());
}

}  // namespace
}  // namespace tsx
