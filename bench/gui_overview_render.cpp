// How much a visible overview window slows a render down: the same job of
// 640 x 640 cells of 32 x 32 pixels from 2,000 pictures of 256 x 256,
// rendered through the main window with the overview hidden and shown,
// alternately, in one run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>

#include "widgets/dialogs.h"
#include "app/ui/form1.h"
#include "app/ui/form3.h"
#include "../tests/gui/gui_test_support.h"
#include "engine/mosaic_job.h"
#include "wizard/image_list.h"

using namespace tsx;

namespace {

constexpr int kCells = 640;
constexpr int kCellSide = 32;
constexpr int kPictures = 2000;
constexpr int kPictureSide = 256;

QTemporaryDir* g_pictures = nullptr;
std::vector<double> g_seconds[2];     // hidden, shown
std::vector<double> g_cpuSeconds[2];  // the whole process, all threads

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

void makePictures()
{
    g_pictures = new QTemporaryDir;
    std::vector<std::string> paths;
    for (int i = 0; i < kPictures; ++i) {
        TDIB dib;
        dib.Allocate(kPictureSide, kPictureSide, 24);
        for (int y = 0; y < kPictureSide; ++y) {
            uint8_t* p = dib.RowPointer(y);
            for (int x = 0; x < kPictureSide; ++x, p += 3) {
                p[0] = uint8_t(i * 4 + x);
                p[1] = uint8_t(i * 37 + y);
                p[2] = uint8_t(255 - i * 3 + (x ^ y));
            }
        }
        const std::string path = QFile::encodeName(g_pictures->filePath(QStringLiteral("p%1.bmp").arg(i))).toStdString();
        dib.WriteBmp(path);
        paths.push_back(path);
    }
    MosaicJob& job = mosaicJob();
    job.settings = MosaicSettings::wizardDefaults();
    job.settings.rows = kCells;
    job.settings.cols = kCells;
    job.settings.cellWidth = kCellSide;
    job.settings.cellHeight = kCellSide;
    job.settings.mosaicWidth = kCells * kCellSide;
    job.settings.mosaicHeight = kCells * kCellSide;
    job.settings.allowVFlip = false;
    job.settings.allowHFlip = false;
    for (int r = 0; r < kCells; ++r)
        for (int c = 0; c < kCells; ++c)
            job.placementGrid.at(c, r) = CellPlacement{ (c * 7 + r * 13) % kPictures, (c % 21) - 10, (r % 17) - 8, 5, 1 };
    imageList().clear();
    for (const std::string& path : paths)
        imageList().append(path, CellSignature{});
}

double renderOnce(bool overviewShown)
{
    if (Form1->btoverview->isChecked() != overviewShown)
        Form1->btoverview->click();
    Form1->sizeMosaic(kCells * kCellSide, kCells * kCellSide);
    QSignalSpy ended(Form1, &TForm1::renderEnded);
    const double cpuStart = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    Form1->startRender();
    if (!ended.wait(600000) || !ended.at(0).at(0).toBool()) {
        std::fprintf(stderr, "render failed\n");
        std::exit(1);
    }
    g_cpuSeconds[overviewShown].push_back(processCpuSeconds() - cpuStart);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void renderWithOverview(benchmark::State& state)
{
    const bool shown = state.range(0) != 0;
    for (auto _ : state) {
        const double seconds = renderOnce(shown);
        state.SetIterationTime(seconds);
        g_seconds[shown].push_back(seconds);
    }
    state.SetLabel(shown ? "overview shown" : "overview hidden");
}

}  // namespace

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Alternating runs, so drift in the machine's load hits both sides alike.
BENCHMARK(renderWithOverview)
    ->ArgsProduct({ { 0, 1, 0, 1, 0, 1, 0, 1, 0, 1 } })
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    ScriptedDialogs dialogs;
    tsx::testing::createForms();
    Form1->show();
    makePictures();
    renderOnce(false);  // warms the file cache for both sides
    benchmark::RunSpecifiedBenchmarks();
    // What the overview adds when nothing runs in parallel: one full redraw
    // from the finished mosaic, the work a render spreads over its refreshes.
    if (!Form1->btoverview->isChecked())
        Form1->btoverview->click();
    std::vector<double> passes;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        Form3->UpdateOverview();
        passes.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("one full overview redraw: %.3f s = %.1f%% of the hidden render\n", median(passes),
                100 * median(passes) / median(g_seconds[0]));
    std::printf("render %d x %d cells of %d x %d: overview shown / hidden = %.3f (medians %.2f s / %.2f s)\n",
                kCells, kCells, kCellSide, kCellSide, median(g_seconds[1]) / median(g_seconds[0]),
                median(g_seconds[1]), median(g_seconds[0]));
    // on a machine with no core to spare, the wall time follows the CPU time
    std::printf("CPU time of the whole process: shown / hidden = %.3f (medians %.2f s / %.2f s)\n",
                median(g_cpuSeconds[1]) / median(g_cpuSeconds[0]), median(g_cpuSeconds[1]),
                median(g_cpuSeconds[0]));
    tsx::testing::destroyForms();
    delete g_pictures;
    benchmark::Shutdown();
    return 0;
}
