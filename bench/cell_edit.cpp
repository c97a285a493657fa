// Editing a finished mosaic of 160 × 160 cells of 32 × 32 pixels from 500
// pictures: what changing one cell, a few, and every unlocked one costs
// against drawing the whole mosaic again, all measured in one run.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/cell_edit.h"
#include "engine/placement.h"
#include "engine/render.h"
#include "imageio/picture.h"

namespace {

using namespace tsx;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSide = 160, kCell = 32, kPictures = 500, kPictureSide = 96;

class QuietHost : public RenderHost {
public:
    explicit QuietHost(const std::vector<std::string>& paths) : m_paths(paths) {}
    std::string imagePath(int index) override { return m_paths.at(size_t(index)); }
    std::string sourcePath() override { return {}; }
    void progress(int) override {}
    void repaint() override {}
    void rowsFinished(int, int) override {}
    void message(const std::string&, const std::string&) override {}
    void finished(bool, const std::string&) override {}

private:
    const std::vector<std::string>& m_paths;
};

double secondsOf(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

int main()
{
    const fs::path dir = fs::temp_directory_path() / ("tesserix-bench-edit-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::mt19937 noise(7);
    auto job = std::make_unique<MosaicJob>();
    std::vector<std::string> paths;
    for (int i = 0; i < kPictures; ++i) {
        TDIB picture;
        picture.Allocate(kPictureSide, kPictureSide, 24);
        const uint8_t base[3] = { uint8_t(noise()), uint8_t(noise()), uint8_t(noise()) };
        for (int y = 0; y < kPictureSide; ++y) {
            uint8_t* p = picture.RowPointer(y);
            for (int x = 0; x < kPictureSide * 3; ++x)
                p[x] = uint8_t(base[x % 3] + (x / 3 + y) % 40);
        }
        paths.push_back((dir / ("p" + std::to_string(i) + ".bmp")).string());
        picture.WriteBmp(paths.back());
        TPicture loaded;
        LoadPicture(paths.back(), loaded);
        appendSignature(job->signatureStream, computeSignature(loaded));
    }
    MosaicSettings& s = job->settings;
    s = MosaicSettings::wizardDefaults();
    s.rows = s.cols = kSide;
    s.cellWidth = s.cellHeight = kCell;
    s.mosaicWidth = s.mosaicHeight = kSide * kCell;
    s.limitRepeat = true;
    s.maxRepeat = 200;
    job->cellColourRaster.Allocate(kSide, kSide, 24);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide * 3; ++x)
            job->cellColourRaster.RowPointer(y)[x] = uint8_t(noise());
    job->mosaicImage.Allocate(s.mosaicWidth, s.mosaicHeight, 24);

    Random random;
    random.setState(1);
    placeCellsUnseeded(*job, random, kPictures);
    QuietHost host(paths);
    Clock::time_point start = Clock::now();
    renderMosaic(*job, random, host);
    const double full = secondsOf(start);

    CellMarks marks;
    start = Clock::now();
    const CellRef one{ 80, 80 };
    const std::optional<int> next = nextCandidate(*job, kPictures, marks, one);
    const CellColour colour = *cellColour(*job, one);
    redrawCells(*job, random, paths, { { one, job->placementGrid.at(80, 80), placementFor(*job, one, colour, *next) } });
    const double single = secondsOf(start);

    std::vector<CellRef> all, block;
    for (int r = 0; r < kSide; ++r)
        for (int c = 0; c < kSide; ++c) {
            all.push_back({ c, r });
            if (c < 16 && r < 16)
                block.push_back({ c, r });
        }
    start = Clock::now();
    redrawCells(*job, random, paths, replaceCells(*job, kPictures, marks, block, random));
    const double few = secondsOf(start);

    for (int r = 0; r < kSide; r += 2)
        marks.locked.insert({ r, r });
    start = Clock::now();
    const std::vector<CellChange> changes = replaceCells(*job, kPictures, marks, all, random);
    const double placed = secondsOf(start);
    start = Clock::now();
    redrawCells(*job, random, paths, changes);
    const double redrawn = secondsOf(start);

    std::printf("full render of %d x %d cells: %.3f s\n", kSide, kSide, full);
    std::printf("Next Candidate on one cell (choice and drawing): %.5f of the full render\n", single / full);
    std::printf("Re-place of 16 x 16 cells (placement and drawing): %.4f of the full render\n", few / full);
    std::printf("Re-place of every unlocked cell: placement %.3f, drawing %zu changed cells %.3f of the full render\n",
                placed / full, changes.size(), redrawn / full);
    fs::remove_all(dir);
    return 0;
}
