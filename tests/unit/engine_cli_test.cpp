// The batch tool's mosaic commands, run as a user runs them.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "imageio/picture.h"
#include "raster/byte_io.h"
#include "wizard/image_list.h"

namespace tsx {
namespace {

namespace fs = std::filesystem;

class BatchToolTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_tool = fs::path(TESSERIX_BINARY_DIR) / "tesserix-cli";
        if (!fs::exists(m_tool))
            GTEST_SKIP() << "the batch tool is not built in this tree (" << m_tool << ")";
        // ctest runs the cases side by side: one folder per case and process
        m_dir = fs::temp_directory_path() /
                ("tesserix-batch-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
                 "-" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "pics");
        for (int k = 0; k < 12; ++k) {
            test::ColourList pixels;
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 13; ++x)
                    pixels.push_back({uint8_t(20 * k + x), uint8_t(250 - 20 * k), uint8_t(10 * y)});
            TDIB dib;
            test::fillRaster(dib, 13, 9, pixels);
            dib.WriteBmp((m_dir / "pics" / ("p" + std::to_string(k) + ".bmp")).string());
        }
        test::ColourList source;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x)
                source.push_back({uint8_t(6 * x), uint8_t(6 * y), 90});
        TDIB dib;
        test::fillRaster(dib, 40, 40, source);
        dib.WriteBmp(path("source.bmp"));
    }
    void TearDown() override
    {
        if (!m_dir.empty())
            fs::remove_all(m_dir);
    }

    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    // Runs the tool; returns its exit status and leaves stderr in m_err.
    int run(const std::string& args)
    {
        // the tool's signature cache stays in the case's folder
        const std::string cmd = "XDG_CACHE_HOME='" + path("cache") + "' '" + m_tool.string() + "' " + args + " >'" + path("out.txt") + "' 2>'" + path("err.txt") + "'";
        const int status = std::system(cmd.c_str());
        m_out = slurp(path("out.txt"));
        m_err = slurp(path("err.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string slurp(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::string makeArgs(const std::string& out, const std::string& extra) const
    {
        return "make --source '" + path("source.bmp") + "' --images '" + (m_dir / "pics").string() + "' --out '" +
               path(out) + "' --rows 16 --cols 18 --cell-width 24 --cell-height 30 --quiet " + extra;
    }

    fs::path m_tool, m_dir;
    std::string m_out, m_err;
};

TEST_F(BatchToolTest, MakeIsRepeatableWithASeedAndRenderRedrawsTheProject)
{
    ASSERT_EQ(run(makeArgs("a.bmp", "--seed 99 --use-all --random-level 8 --project '" + path("a.tsx") +
                                        "' --stats '" + path("a.txt") + "' --imagelist-out '" + path("a.iml") + "'")),
              0)
        << m_err;
    ASSERT_EQ(run(makeArgs("b.bmp", "--seed 99 --use-all --random-level 8 --project '" + path("b.tsx") + "'")), 0)
        << m_err;
    EXPECT_TRUE(readWholeFile(path("a.bmp")) == readWholeFile(path("b.bmp")));
    EXPECT_TRUE(readWholeFile(path("a.tsx")) == readWholeFile(path("b.tsx")));

    TPicture mosaic;
    LoadPicture(path("a.bmp"), mosaic);
    EXPECT_EQ(mosaic.Width(), 18 * 24);
    EXPECT_EQ(mosaic.Height(), 16 * 30);

    ASSERT_EQ(run("render --quiet --project '" + path("a.tsx") + "' --out '" + path("c.bmp") + "'"), 0) << m_err;
    EXPECT_TRUE(readWholeFile(path("a.bmp")) == readWholeFile(path("c.bmp")));

    ASSERT_EQ(run("stats --project '" + path("a.tsx") + "'"), 0) << m_err;
    EXPECT_NE(m_out.find("p0.bmp"), std::string::npos) << m_out;
    EXPECT_FALSE(slurp(path("a.txt")).empty());
    EXPECT_TRUE(fs::exists(path("a.iml")));

    // The ImageList file fills the cells as the folder did.
    ASSERT_EQ(run("make --quiet --seed 99 --use-all --random-level 8 --rows 16 --cols 18 --cell-width 24 "
                  "--cell-height 30 --source '" + path("source.bmp") + "' --imagelist '" + path("a.iml") +
                  "' --out '" + path("d.bmp") + "'"),
              0)
        << m_err;
    EXPECT_TRUE(readWholeFile(path("a.bmp")) == readWholeFile(path("d.bmp")));
}

TEST_F(BatchToolTest, BadValuesAreUsageErrorsAndFailuresExitWithTheMessage)
{
    EXPECT_EQ(run(makeArgs("x.bmp", "--rows 15")), 2);
    EXPECT_EQ(run(makeArgs("x.bmp", "--cell-width 801")), 2);
    EXPECT_EQ(run(makeArgs("x.bmp", "--random-level 9")), 2);
    EXPECT_EQ(run(makeArgs("x.bmp", "--max-repeat 0")), 2);
    EXPECT_EQ(run(makeArgs("x.bmp", "--red -256")), 2);
    EXPECT_EQ(run("make --source '" + path("source.bmp") + "' --out '" + path("x.bmp") + "'"), 2);
    EXPECT_FALSE(fs::exists(path("x.bmp")));

    EXPECT_EQ(run("make --quiet --source '" + path("missing.bmp") + "' --images '" + (m_dir / "pics").string() +
                  "' --out '" + path("x.bmp") + "'"),
              1);
    EXPECT_NE(m_err.find("Cannot open file"), std::string::npos) << m_err;
    EXPECT_FALSE(fs::exists(path("x.bmp")));
}

TEST_F(BatchToolTest, DetailMatchingIsAnOptionWhoseProjectRendersAsAnyOtherAndStatsMeasureIt)
{
    ASSERT_EQ(run(makeArgs("plain.bmp", "--seed 5")), 0) << m_err;
    ASSERT_EQ(run(makeArgs("off.bmp", "--seed 5 --detail 0")), 0) << m_err;
    EXPECT_TRUE(readWholeFile(path("plain.bmp")) == readWholeFile(path("off.bmp")));
    EXPECT_EQ(run(makeArgs("x.bmp", "--detail 5")), 2);

    ASSERT_EQ(run(makeArgs("detail.bmp", "--seed 5 --detail 3 --project '" + path("detail.tsx") + "'")), 0) << m_err;
    EXPECT_FALSE(readWholeFile(path("plain.bmp")) == readWholeFile(path("detail.bmp")));
    ASSERT_EQ(run("render --quiet --project '" + path("detail.tsx") + "' --out '" + path("again.bmp") + "'"), 0)
        << m_err;
    EXPECT_TRUE(readWholeFile(path("detail.bmp")) == readWholeFile(path("again.bmp")));

    // the statistic first, as it always was; the figures after it
    ASSERT_EQ(run("stats --project '" + path("detail.tsx") + "'"), 0) << m_err;
    const std::string plainStats = m_out;
    ASSERT_EQ(run("stats --quiet --missing-colours --project '" + path("detail.tsx") + "' --source '" +
                  path("source.bmp") + "'"),
              0)
        << m_err;
    const size_t figures = m_out.find("\nMatch distance: mean ");
    ASSERT_NE(figures, std::string::npos) << m_out;
    EXPECT_EQ(plainStats.substr(0, figures), m_out.substr(0, figures));
    EXPECT_NE(m_out.find("Fidelity: SSIM 0.", figures), std::string::npos) << m_out;
    EXPECT_NE(m_out.find("\nColours the pictures lack:\n#"), std::string::npos) << m_out;
}

TEST_F(BatchToolTest, RecursiveTakesSubfoldersAndSkipBadListsWhatItWentPast)
{
    // six of the twelve pictures move two levels down, one damaged file joins them
    fs::create_directories(m_dir / "pics" / "2024" / "05");
    for (int k = 0; k < 6; ++k)
        fs::rename(m_dir / "pics" / ("p" + std::to_string(k) + ".bmp"),
                   m_dir / "pics" / "2024" / "05" / ("p" + std::to_string(k) + ".bmp"));
    std::ofstream(m_dir / "pics" / "2024" / "broken.png") << "not a picture";

    const std::string imagelist = "imagelist --quiet --images '" + (m_dir / "pics").string() + "' --out '";
    ASSERT_EQ(run(imagelist + path("flat.iml") + "'"), 0) << m_err;
    EXPECT_EQ(run(imagelist + path("deep.iml") + "' --recursive"), 1);
    // the file that stopped the load is named with its reader's message
    EXPECT_NE(m_err.find((m_dir / "pics" / "2024" / "broken.png").string() + ": PNG: "), std::string::npos) << m_err;
    EXPECT_FALSE(fs::exists(path("deep.iml")));
    ASSERT_EQ(run(imagelist + path("deep.iml") + "' --recursive --skip-bad"), 0) << m_err;
    EXPECT_NE(m_err.find("Skipped 1 picture that could not be loaded:"), std::string::npos) << m_err;
    EXPECT_NE(m_err.find((m_dir / "pics" / "2024" / "broken.png").string() + ": PNG: "), std::string::npos) << m_err;

    std::vector<uint8_t> flatStream, deepStream;
    ImageList flat(flatStream), deep(deepStream);
    flat.loadIml(path("flat.iml"));
    EXPECT_EQ(flat.count(), 6u);
    deep.loadIml(path("deep.iml"));
    ASSERT_EQ(deep.count(), 12u);
    EXPECT_EQ(deep.path(6), (m_dir / "pics" / "2024" / "05" / "p0.bmp").string());

    // make takes the same flags; without them the result is the flat folder's
    EXPECT_EQ(run(makeArgs("deep.bmp", "--seed 3 --recursive --skip-bad --imagelist-out '" + path("made.iml") + "'")), 0)
        << m_err;
    EXPECT_EQ(slurp(path("made.iml")), slurp(path("deep.iml")));
    // the cache only saves decoding: the same mosaic with it and without it
    ASSERT_EQ(run(makeArgs("cached.bmp", "--seed 3 --recursive --skip-bad")), 0) << m_err;
    ASSERT_EQ(run(makeArgs("uncached.bmp", "--seed 3 --recursive --skip-bad --no-cache")), 0) << m_err;
    EXPECT_EQ(slurp(path("cached.bmp")), slurp(path("deep.bmp")));
    EXPECT_EQ(slurp(path("uncached.bmp")), slurp(path("deep.bmp")));
}

TEST_F(BatchToolTest, OutputKindFollowsTheExtensionAndItsLimitsAreToldBeforeAnyWork)
{
    ASSERT_EQ(run(makeArgs("a.bmp", "--seed 7 --hflip")), 0) << m_err;
    ASSERT_EQ(run(makeArgs("a.tif", "--seed 7 --hflip --compression lzw --dpi 300")), 0) << m_err;
    ASSERT_EQ(run(makeArgs("a.jpg", "--seed 7 --hflip --quality 80")), 0) << m_err;
    TPicture bmp, tif;
    LoadPicture(path("a.bmp"), bmp);
    LoadPicture(path("a.tif"), tif);
    const TDIB& expected = *bmp.Graphic()->PixelRaster();
    const TDIB& got = *tif.Graphic()->PixelRaster();
    ASSERT_EQ(got.Width(), expected.Width());
    ASSERT_EQ(got.Height(), expected.Height());
    for (int y = 0; y < got.Height(); ++y)
        ASSERT_TRUE(std::equal(got.ScanLine(y), got.ScanLine(y) + got.Width() * 3, expected.ScanLine(y))) << y;
    const std::vector<uint8_t> jpeg = readWholeFile(path("a.jpg"));
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    // any other name is a bitmap, as always
    ASSERT_EQ(run(makeArgs("a.out", "--seed 7 --hflip")), 0) << m_err;
    EXPECT_TRUE(readWholeFile(path("a.out")) == readWholeFile(path("a.bmp")));

    const std::string from = "make --quiet --source '" + path("source.bmp") + "' --images '" + (m_dir / "pics").string();
    EXPECT_EQ(run(from + "' --out '" + path("wide.jpg") + "' --cols 640 --cell-width 120"), 1);
    EXPECT_NE(m_err.find("A JPEG file holds at most 65535 pixels a side"), std::string::npos) << m_err;
    EXPECT_EQ(run(from + "' --out '" + path("huge.bmp") + "' --rows 640 --cols 640 --cell-width 800 --cell-height 800"),
              1);
    EXPECT_NE(m_err.find("A BMP file holds at most 4 GB"), std::string::npos) << m_err;
    EXPECT_EQ(run(makeArgs("none/x.png", "")), 1);
    EXPECT_EQ(m_err, "Cannot create file " + path("none/x.png") + "\n");
    EXPECT_EQ(run(makeArgs("x.tif", "--compression zip")), 2);
    for (const char* name : {"wide.jpg", "huge.bmp", "x.tif"})
        EXPECT_FALSE(fs::exists(path(name))) << name;
}

}  // namespace
}  // namespace tsx
