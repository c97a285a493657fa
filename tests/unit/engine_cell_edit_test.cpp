#include "engine/cell_edit.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/edit_history.h"
#include "app/project_file.h"
#include "engine/render.h"
#include "engine_test_support.h"
#include "raster_test_support.h"
#include "wizard/image_list.h"

namespace tsx {
namespace {

namespace fs = std::filesystem;

class NullHost : public RenderHost {
public:
    explicit NullHost(std::vector<std::string> paths) : m_paths(std::move(paths)) {}
    std::string imagePath(int index) override { return m_paths.at(size_t(index)); }
    std::string sourcePath() override { return {}; }
    void progress(int) override {}
    void repaint() override {}
    void rowsFinished(int, int) override {}
    void message(const std::string&, const std::string&) override {}
    void finished(bool success, const std::string&) override { ok = success; }
    bool ok = false;

private:
    std::vector<std::string> m_paths;
};

// A placed job of noise pictures of several shapes, with its full render.
class CellEditTest : public testing::Test {
protected:
    static constexpr int kRows = 12, kCols = 10, kCellW = 9, kCellH = 7, kPictures = 30;

    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("tesserix-celledit-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
                 "-" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        test::ColourList cells, signatures;
        for (int k = 0; k < kRows * kCols; ++k)
            cells.push_back({ uint8_t(k * 37), uint8_t(k * 11 + 40), uint8_t(255 - k * 5) });
        for (int i = 0; i < kPictures; ++i) {
            const TDIB picture = test::noise(12 + i % 5 * 7, 9 + i % 3 * 11, unsigned(i + 1));
            const std::string path = (m_dir / ("p" + std::to_string(i) + ".bmp")).string();
            picture.WriteBmp(path);
            m_paths.push_back(path);
            signatures.push_back({ uint8_t(i * 53), uint8_t(i * 29 + 7), uint8_t(i * 17 + 100) });
        }
        m_job = test::makePlacementJob(kRows, kCols, cells, signatures);
        MosaicSettings& s = m_job->settings;
        s.cellWidth = kCellW;
        s.cellHeight = kCellH;
        s.mosaicWidth = kCols * kCellW;
        s.mosaicHeight = kRows * kCellH;
        s.limitRepeat = true;
        s.maxRepeat = 6;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void placeAndRender(uint32_t renderSeed = 7)
    {
        test::placeSeeded(*m_job, m_random, kPictures);
        m_job->mosaicImage.Allocate(kCols * kCellW, kRows * kCellH, 24);
        m_random.setState(renderSeed);
        NullHost host(m_paths);
        renderMosaic(*m_job, m_random, host);
        ASSERT_TRUE(host.ok);
    }

    static std::vector<uint8_t> bytesOf(const TDIB& dib)
    {
        std::vector<uint8_t> out;
        for (int y = 0; y < dib.Height(); ++y)
            out.insert(out.end(), dib.ScanLine(y), dib.ScanLine(y) + dib.Width() * 3);
        return out;
    }
    std::vector<uint8_t> gridBytes() const
    {
        std::vector<uint8_t> out(kPlacementGridBytes);
        m_job->placementGrid.writeTo(out.data());
        return out;
    }

    fs::path m_dir;
    std::vector<std::string> m_paths;
    std::unique_ptr<MosaicJob> m_job;
    Random m_random;
};

TEST_F(CellEditTest, ARedrawnCellHasThePixelsOfTheFullRender)
{
    // every option that shapes a cell's pixels, flips included: the redraw
    // replays the render's draws cell by cell
    struct Options {
        bool stretch, mono, sourceMono, enhanceOff, vflip, hflip;
    };
    for (const Options o : { Options{ true, false, false, false, false, false }, Options{ false, true, false, false, true, true },
                             Options{ false, false, true, false, false, true }, Options{ true, false, false, true, true, false } }) {
        MosaicSettings& s = m_job->settings;
        s.stretchCells = o.stretch;
        s.cutEdges = !o.stretch;
        s.monoCells = o.mono;
        s.sourceMono = o.sourceMono;
        s.colorEnhanceOff = o.enhanceOff;
        s.allowVFlip = o.vflip;
        s.allowHFlip = o.hflip;
        placeAndRender(99);

        std::vector<CellChange> all;
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kCols; ++c)
                all.push_back({ { c, r }, m_job->placementGrid.at(c, r), m_job->placementGrid.at(c, r) });
        Random replay;
        replay.setState(99);
        std::vector<size_t> told;
        const RedrawnCells redrawn = redrawCells(*m_job, replay, m_paths, all, [&](size_t done, size_t total) {
            EXPECT_EQ(total, all.size());
            told.push_back(done);
        });
        ASSERT_FALSE(told.empty());
        EXPECT_TRUE(std::is_sorted(told.begin(), told.end()) && told.back() < all.size());
        ASSERT_TRUE(redrawn.failures.empty());
        ASSERT_EQ(redrawn.pixels.size(), all.size());
        for (size_t k = 0; k < all.size(); ++k)
            ASSERT_EQ(bytesOf(redrawn.pixels[k]), bytesOf(copyCellPixels(*m_job, all[k].cell)))
                << "cell " << all[k].cell.col << ", " << all[k].cell.row << " stretch " << o.stretch;
    }
}

TEST_F(CellEditTest, CandidatesFollowTheRulesAndNextCandidateGoesRound)
{
    m_job->settings.noClose = true;
    placeAndRender();
    const CellRef cell{ 4, 5 };
    CellMarks marks;
    std::vector<int> candidates = cellCandidates(*m_job, kPictures, marks, cell);
    ASSERT_EQ(candidates.size(), 8u);
    for (const auto& [dc, dr] : std::vector<std::pair<int, int>>{ { -1, 0 }, { 0, -1 }, { -1, -1 }, { 1, 0 }, { 0, 1 }, { 1, 1 } }) {
        const int neighbour = m_job->placementGrid.at(cell.col + dc, cell.row + dr).imageIndex;
        EXPECT_EQ(std::count(candidates.begin(), candidates.end(), neighbour), 0) << dc << "," << dr;
    }
    for (size_t k = 1; k < candidates.size(); ++k)
        EXPECT_LE(matchDistance(*m_job, cell, candidates[k - 1]), matchDistance(*m_job, cell, candidates[k]));

    marks.excluded.insert(candidates[0]);
    const std::vector<int> without = cellCandidates(*m_job, kPictures, marks, cell);
    EXPECT_EQ(std::count(without.begin(), without.end(), candidates[0]), 0);
    marks.excluded.clear();

    // stepping through applies each choice and comes back to the start
    const int start = m_job->placementGrid.at(cell.col, cell.row).imageIndex;
    const CellColour colour = *cellColour(*m_job, cell);
    std::vector<int> seen;
    for (size_t step = 0; step < candidates.size() + 1; ++step) {
        const std::optional<int> next = nextCandidate(*m_job, kPictures, marks, cell);
        ASSERT_TRUE(next.has_value());
        const CellPlacement before = m_job->placementGrid.at(cell.col, cell.row);
        const CellChange change{ cell, before, placementFor(*m_job, cell, colour, *next) };
        m_job->workingSignatures = signaturesAfter(m_job->workingSignatures, { change });
        m_job->placementGrid.at(cell.col, cell.row) = change.after;
        EXPECT_EQ(*cellColour(*m_job, cell), colour);
        seen.push_back(*next);
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), start), 1);
    EXPECT_EQ(seen.back(), seen.front());

    // a picture at its repetition limit is no candidate for another cell
    m_job->settings.maxRepeat = 1;
    for (int picture : cellCandidates(*m_job, kPictures, marks, cell))
        if (picture != m_job->placementGrid.at(cell.col, cell.row).imageIndex) {
            EXPECT_EQ(signatureAt(m_job->workingSignatures, size_t(picture)).useCount, 0);
        }
}

TEST_F(CellEditTest, ReplacingKeepsLockedCellsAndTheRules)
{
    m_job->settings.noClose = true;
    m_job->settings.maxRepeat = 5;
    m_job->settings.randomLevel = 4;
    placeAndRender();
    CellMarks marks;
    for (const CellRef cell : { CellRef{ 0, 0 }, CellRef{ 3, 3 }, CellRef{ 4, 3 }, CellRef{ 9, 11 } })
        marks.locked.insert(cell);
    marks.excluded = { 2, 5, 11 };
    const PlacementGrid before = m_job->placementGrid;
    std::vector<CellRef> all;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kCols; ++c)
            all.push_back({ c, r });
    m_random.setState(5);
    const std::vector<CellChange> changes = replaceCells(*m_job, kPictures, marks, all, m_random);
    ASSERT_FALSE(changes.empty());
    m_job->workingSignatures = signaturesAfter(m_job->workingSignatures, changes);
    for (const CellChange& change : changes) {
        EXPECT_EQ(marks.locked.count(change.cell), 0u);
        EXPECT_EQ(change.before, before.at(change.cell.col, change.cell.row));
        m_job->placementGrid.at(change.cell.col, change.cell.row) = change.after;
    }
    std::map<int, int> counted;
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kCols; ++c) {
            const int picture = m_job->placementGrid.at(c, r).imageIndex;
            ++counted[picture];
            if (!marks.locked.count({ c, r })) {
                EXPECT_EQ(marks.excluded.count(picture), 0u) << c << "," << r;
            }
            for (const auto& [dc, dr] : std::vector<std::pair<int, int>>{ { -1, 0 }, { 0, -1 }, { -1, -1 } })
                if (c + dc >= 0 && r + dr >= 0) {
                    EXPECT_NE(m_job->placementGrid.at(c + dc, r + dr).imageIndex, picture) << c << "," << r;
                }
            // the offsets still say how far the picture lies from the cell's colour
            const CellPlacement& p = m_job->placementGrid.at(c, r);
            const CellSignature sig = signatureAt(m_job->workingSignatures, size_t(picture));
            const CellPlacement& old = before.at(c, r);
            const CellSignature oldSig = signatureAt(m_job->signatureStream, size_t(old.imageIndex));
            EXPECT_EQ(sig.red - p.redOffset, oldSig.red - old.redOffset);
        }
    }
    for (int i = 0; i < kPictures; ++i) {
        EXPECT_EQ(signatureAt(m_job->workingSignatures, size_t(i)).useCount, counted[i]) << i;
        EXPECT_LE(counted[i], 5);
    }
}

TEST_F(CellEditTest, UndoAndRedoGiveBackTheBytesOfRecordsPixelsAndMarks)
{
    m_job->settings.allowHFlip = true;
    placeAndRender();
    const std::vector<uint8_t> gridBefore = gridBytes();
    const std::vector<uint8_t> pixelsBefore = bytesOf(m_job->mosaicImage);
    const std::vector<uint8_t> signaturesBefore = m_job->workingSignatures;

    CellMarks marks;
    marks.locked.insert({ 1, 1 });
    std::vector<CellRef> cells{ { 2, 2 }, { 3, 2 }, { 1, 1 }, { 7, 9 } };
    std::vector<CellChange> changes = replaceCells(*m_job, kPictures, marks, cells, m_random);
    // a picture that has gone leaves its cell as it was, named in the report
    ASSERT_GE(changes.size(), 2u);
    std::vector<std::string> paths = m_paths;
    paths[size_t(changes[0].after.imageIndex)] = (m_dir / "gone.bmp").string();
    RedrawnCells redrawn = redrawCells(*m_job, m_random, paths, changes);
    ASSERT_EQ(redrawn.failures.size(), 1u);
    EXPECT_NE(redrawn.failures[0].find("gone.bmp"), std::string::npos);
    EXPECT_EQ(redrawn.changes.size(), changes.size() - 1 - std::count_if(changes.begin() + 1, changes.end(), [&](const CellChange& c) {
                                                             return c.after.imageIndex == changes[0].after.imageIndex;
                                                         }));

    EditStep step;
    step.name = "Re-place Unlocked Cells";
    step.cells = redrawn.changes;
    step.pixelsAfter = redrawn.pixels;
    for (const CellChange& change : redrawn.changes)
        step.pixelsBefore.push_back(copyCellPixels(*m_job, change.cell));
    step.marksBefore = marks;
    step.marksAfter = marks;
    step.marksAfter.excluded.insert(4);
    step.signaturesBefore = m_job->workingSignatures;
    step.signaturesAfter = signaturesAfter(m_job->workingSignatures, redrawn.changes);
    applyEditStep(*m_job, marks, step, true);
    const std::vector<uint8_t> gridAfter = gridBytes();
    const std::vector<uint8_t> pixelsAfter = bytesOf(m_job->mosaicImage);
    ASSERT_NE(gridAfter, gridBefore);
    ASSERT_NE(pixelsAfter, pixelsBefore);

    EditHistory history;
    history.push(std::move(step));
    ASSERT_TRUE(history.undo(*m_job, marks));
    EXPECT_EQ(gridBytes(), gridBefore);
    EXPECT_EQ(bytesOf(m_job->mosaicImage), pixelsBefore);
    EXPECT_EQ(m_job->workingSignatures, signaturesBefore);
    EXPECT_EQ(marks.excluded.count(4), 0u);
    EXPECT_FALSE(history.undo(*m_job, marks));
    ASSERT_TRUE(history.redo(*m_job, marks));
    EXPECT_EQ(gridBytes(), gridAfter);
    EXPECT_EQ(bytesOf(m_job->mosaicImage), pixelsAfter);
    EXPECT_EQ(marks.excluded.count(4), 1u);
    EXPECT_FALSE(history.canRedo());

    // past its budget the history forgets the oldest steps, never the last
    EditHistory small(1);
    for (int k = 0; k < 3; ++k) {
        EditStep marksOnly;
        marksOnly.name = "Lock";
        small.push(std::move(marksOnly));
    }
    EXPECT_TRUE(small.undo(*m_job, marks));
    EXPECT_FALSE(small.undo(*m_job, marks));
}

TEST(CellAt, PointsMapToCellsInsideTheGridOnly)
{
    MosaicSettings s;
    s.rows = 3;
    s.cols = 4;
    s.cellWidth = 10;
    s.cellHeight = 5;
    EXPECT_EQ(cellAt(s, 0, 0), (CellRef{ 0, 0 }));
    EXPECT_EQ(cellAt(s, 39, 14), (CellRef{ 3, 2 }));
    EXPECT_EQ(cellAt(s, 10, 4), (CellRef{ 1, 0 }));
    EXPECT_FALSE(cellAt(s, 40, 0));
    EXPECT_FALSE(cellAt(s, 0, 15));
    EXPECT_FALSE(cellAt(s, -1, 0));
}

TEST(ProjectMarks, KeptAfterTheTableAndIgnoredWhenDamaged)
{
    auto job = std::make_unique<MosaicJob>();
    ImageList list(job->signatureStream);
    for (int i = 0; i < 3; ++i)
        list.append("/pictures/p" + std::to_string(i) + ".bmp", CellSignature{});
    job->settings = MosaicSettings::wizardDefaults();
    job->settings.rows = 16;
    job->settings.cols = 20;
    job->settings.cellWidth = job->settings.cellHeight = 24;
    job->settings.mosaicWidth = 20 * 24;
    job->settings.mosaicHeight = 16 * 24;
    job->workingSignatures = job->signatureStream;

    const std::vector<uint8_t> plain = buildProjectImage(*job, list);
    EXPECT_EQ(buildProjectImage(*job, list, CellMarks{}), plain);
    EXPECT_TRUE(parseProject(plain).marks.empty());

    CellMarks marks;
    marks.locked = { { 19, 15 }, { 0, 3 } };
    marks.excluded = { 2 };
    std::vector<uint8_t> marked = buildProjectImage(*job, list, marks);
    ASSERT_GT(marked.size(), plain.size());
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), marked.begin()));
    EXPECT_EQ(parseProject(marked).marks, marks);

    // any damage to the block leaves the project as if it had none
    auto damaged = [&](auto change) {
        std::vector<uint8_t> bytes = marked;
        change(bytes);
        const ProjectContents contents = parseProject(bytes);
        EXPECT_TRUE(contents.marks.empty());
        EXPECT_EQ(contents.paths, list.paths());
    };
    damaged([&](std::vector<uint8_t>& b) { b.back() ^= 1; });                 // checksum
    damaged([&](std::vector<uint8_t>& b) { b[plain.size() + 14] ^= 0x40; });  // a locked cell
    damaged([&](std::vector<uint8_t>& b) { b.pop_back(); });                  // cut short
    damaged([&](std::vector<uint8_t>& b) { b.push_back(0); });                // longer than it says
    damaged([&](std::vector<uint8_t>& b) { b[plain.size()] = 'X'; });         // tag
    // a block that checks out but names what the job does not have
    CellMarks outside;
    outside.locked = { { 20, 0 } };
    std::vector<uint8_t> bytes = plain;
    const std::vector<uint8_t> block = cellMarksBlock(outside);
    bytes.insert(bytes.end(), block.begin(), block.end());
    EXPECT_TRUE(parseProject(bytes).marks.empty());
    outside.locked.clear();
    outside.excluded = { 3 };
    bytes = plain;
    const std::vector<uint8_t> block2 = cellMarksBlock(outside);
    bytes.insert(bytes.end(), block2.begin(), block2.end());
    EXPECT_TRUE(parseProject(bytes).marks.empty());
}

}  // namespace
}  // namespace tsx
