#include "app/project_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "raster/byte_io.h"
#include "raster/errors.h"

namespace tsx {
namespace {

struct Fixture {
    std::unique_ptr<MosaicJob> job = std::make_unique<MosaicJob>();
    ImageList list{job->signatureStream};
};

// A finished 20 × 30 job with two pictures, placed and counted.
void fillJob(Fixture& f)
{
    MosaicSettings& s = f.job->settings;
    s = MosaicSettings::wizardDefaults();
    s.rows = 20;
    s.cols = 30;
    s.cellWidth = 40;
    s.cellHeight = 25;
    s.mosaicWidth = 1200;
    s.mosaicHeight = 500;
    s.diskSpaceMB = 1.7;
    s.sourceRedAdjust = -12;
    s.allowHFlip = true;
    f.list.append("/pics/one.jpg", CellSignature{1, 2, 3, 0, 0});
    f.list.append("/pics/two.jpg", CellSignature{4, 5, 6, 0, 0});
    f.job->workingSignatures = f.job->signatureStream;
    setSignatureAt(f.job->workingSignatures, 0, CellSignature{1, 2, 3, 0, 400});
    setSignatureAt(f.job->workingSignatures, 1, CellSignature{4, 5, 6, 0, 200});
    for (int c = 0; c < 30; ++c)
        for (int r = 0; r < 20; ++r)
            f.job->placementGrid.at(c, r) = CellPlacement{(c + r) % 3 == 0, c - r, -c, r, 1};
    // a record outside the grid is written and read like the others
    f.job->placementGrid.at(799, 799) = CellPlacement{77, 300, -300, 9999, 5};
}

TEST(ProjectFile, LayoutOfTheBlocks)
{
    Fixture f;
    fillJob(f);
    const std::vector<uint8_t> image = buildProjectImage(*f.job, f.list);
    const size_t textBytes = 2 * (13 + 2);
    ASSERT_EQ(image.size(), 12'800'080 + textBytes + 16);
    // the lengths are written into the job and the settings block
    EXPECT_EQ(f.job->settings.savedFileListBytes, int32_t(textBytes));
    EXPECT_EQ(f.job->settings.savedSignatureBytes, 16);
    ByteReader r(image);
    r.seek(32);
    EXPECT_EQ(r.i32le(), 500);  // height before width
    EXPECT_EQ(r.i32le(), 1200);
    r.seek(72);
    EXPECT_EQ(r.i32le(), 16);
    EXPECT_EQ(r.i32le(), int32_t(textBytes));
    EXPECT_EQ(std::string(image.begin() + 80, image.begin() + 80 + ptrdiff_t(textBytes)),
              "/pics/one.jpg\r\n/pics/two.jpg\r\n");
    r.seek(80 + textBytes + 12);
    EXPECT_EQ(r.i32le(), 200);
    // column 1, row 0 of the table
    r.seek(80 + textBytes + 16 + 16000);
    EXPECT_EQ(r.i32le(), 0);
    EXPECT_EQ(r.i32le(), 1);
    EXPECT_EQ(r.i32le(), -1);
    for (size_t reserved : {13, 14, 15, 53, 54, 55, 69, 70, 71})
        EXPECT_EQ(image[reserved], 0) << reserved;
    for (size_t cell = 0; cell < 640000; cell += 997)
        for (size_t b = 17; b < 20; ++b)
            ASSERT_EQ(image[80 + textBytes + 16 + cell * 20 + b], 0);
}

TEST(ProjectFile, LoadThenSaveGivesTheSameBytes)
{
    Fixture saved;
    fillJob(saved);
    const std::vector<uint8_t> image = buildProjectImage(*saved.job, saved.list);

    Fixture loaded;
    loaded.list.append("/old/stays-out.jpg", CellSignature{9, 9, 9, 0, 0});
    commitProject(parseProject(image), *loaded.job, loaded.list);
    EXPECT_EQ(loaded.job->settings, saved.job->settings);
    EXPECT_EQ(loaded.list.paths(), saved.list.paths());
    EXPECT_EQ(loaded.job->workingSignatures, saved.job->workingSignatures);
    EXPECT_TRUE(loaded.job->placementGrid == saved.job->placementGrid);
    // the signature stream is not in the file and keeps its old contents
    EXPECT_EQ(loaded.job->signatureStream.size(), 8u);
    EXPECT_EQ(buildProjectImage(*loaded.job, loaded.list), image);
}

TEST(ProjectFile, EmptyImageListAndUnplacedJob)
{
    Fixture f;
    f.job->settings = MosaicSettings::wizardDefaults();
    f.job->settings.selfMosaic = true;
    const std::vector<uint8_t> image = buildProjectImage(*f.job, f.list);
    ASSERT_EQ(image.size(), 12'800'080u);
    Fixture loaded;
    loaded.list.append("x", CellSignature{});
    commitProject(parseProject(image), *loaded.job, loaded.list);
    EXPECT_TRUE(loaded.list.empty());
    EXPECT_TRUE(loaded.job->workingSignatures.empty());
}

TEST(ProjectFile, JobThatWasNeverSizedStillLoads)
{
    // saved before any mosaic was made: no rows, no columns
    Fixture f;
    const std::vector<uint8_t> image = buildProjectImage(*f.job, f.list);
    const ProjectContents c = parseProject(image);
    EXPECT_EQ(c.settings.rows, 0);
    EXPECT_EQ(c.settings.mosaicWidth, 0);
}

// Every refusal leaves the job exactly as it was.
class BadProject : public ::testing::Test {
protected:
    void SetUp() override
    {
        Fixture source;
        fillJob(source);
        m_good = buildProjectImage(*source.job, source.list);
        m_target.list.append("/kept.jpg", CellSignature{7, 7, 7, 0, 0});
        m_target.job->settings = MosaicSettings::wizardDefaults();
        m_target.job->workingSignatures = {1, 2, 3, 4, 5, 6, 7, 8};
        m_target.job->placementGrid.at(3, 3).imageIndex = 42;
        m_before = buildProjectImage(*m_target.job, m_target.list);
    }
    std::vector<uint8_t> withInt(size_t offset, int32_t v) const
    {
        std::vector<uint8_t> b = m_good;
        for (int i = 0; i < 4; ++i)
            b[offset + size_t(i)] = uint8_t(uint32_t(v) >> (8 * i));
        return b;
    }
    void expectRefused(const std::vector<uint8_t>& bytes, const char* words)
    {
        try {
            commitProject(parseProject(bytes), *m_target.job, m_target.list);
            ADD_FAILURE() << "accepted a file with " << words;
        } catch (const EInvalidProject& e) {
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
        }
        EXPECT_EQ(buildProjectImage(*m_target.job, m_target.list), m_before);
    }

    std::vector<uint8_t> m_good;
    std::vector<uint8_t> m_before;
    Fixture m_target;
};

TEST_F(BadProject, LengthsNegativeOrPastTheEnd)
{
    expectRefused(withInt(72, -8), "negative");
    expectRefused(withInt(76, -1), "negative");
    expectRefused(withInt(76, INT32_MAX), "ends before");
    expectRefused(withInt(72, 17), "ends before");
    expectRefused(std::vector<uint8_t>(m_good.begin(), m_good.end() - 1), "ends before");
    expectRefused(std::vector<uint8_t>(m_good.begin(), m_good.begin() + 79), "too short");
    expectRefused({}, "too short");
}

TEST_F(BadProject, GridOutsideTheTable)
{
    expectRefused(withInt(16, 801), "rows or columns");
    expectRefused(withInt(20, 0), "rows or columns");
    expectRefused(withInt(16, -5), "rows or columns");
}

TEST_F(BadProject, SizesThatCannotBeRendered)
{
    expectRefused(withInt(24, 0), "cell size");
    expectRefused(withInt(28, 100000), "cell size");
    expectRefused(withInt(36, 1201), "does not match");
    std::vector<uint8_t> huge = withInt(16, 800);  // 800 × 800 cells of 800 × 800
    for (auto [offset, v] : {std::pair{20, 800}, {24, 800}, {28, 800}, {32, 640000}, {36, 640000}})
        for (int i = 0; i < 4; ++i)
            huge[size_t(offset) + size_t(i)] = uint8_t(uint32_t(v) >> (8 * i));
    expectRefused(huge, "1200 MB");
}

TEST_F(BadProject, OffsetsOutsideTheColourRange)
{
    expectRefused(withInt(0, 256), "source");
    expectRefused(withInt(8, INT32_MIN), "source");
    const size_t table = 80 + 30 + 16;
    expectRefused(withInt(table + (29 * 800 + 19) * 20 + 8, -256), "cell");
}

TEST(ProjectFile, MosaicRasterTakesTheLoadedSizeAndKeepsPixelsOfTheSameSize)
{
    Fixture f;
    fillJob(f);
    sizeMosaicForProject(*f.job);
    TDIB& image = f.job->mosaicImage;
    ASSERT_EQ(image.Width(), 1200);
    ASSERT_EQ(image.Height(), 500);
    ASSERT_EQ(image.BitCount(), 24);
    image.RowPointer(7)[9] = 123;
    sizeMosaicForProject(*f.job);
    EXPECT_EQ(image.ScanLine(7)[9], 123);

    f.job->settings = MosaicSettings{};
    sizeMosaicForProject(*f.job);
    EXPECT_TRUE(image.IsEmpty());
}

TEST(ProjectFile, ThroughAFileOnDisk)
{
    Fixture f;
    fillJob(f);
    const std::string name = (std::filesystem::temp_directory_path() /
                              ("tsx-project-" + std::to_string(::getpid()) + ".TSX")).string();
    saveProject(name, *f.job, f.list);
    Fixture loaded;
    loadProject(name, *loaded.job, loaded.list);
    std::filesystem::remove(name);
    EXPECT_EQ(loaded.list.paths(), f.list.paths());
    EXPECT_THROW(loadProject(name, *loaded.job, loaded.list), EFOpenError);
    EXPECT_EQ(loaded.list.count(), 2u);
}

}  // namespace
}  // namespace tsx
