// Drawing a 640 × 640-cell mosaic of 32 × 32-pixel cells from 2,000 JPEG
// pictures of 256 × 256: wall time and peak memory of one render, and the
// ratio to decoding the picture anew for every cell (timed on a sample of
// cells and scaled up to all of them).

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include "engine/render.h"

namespace {

using namespace tsx;
namespace fs = std::filesystem;

constexpr int kPictures = 2000;
constexpr int kPictureSide = 256;
constexpr int kSide = 640;
constexpr int kCell = 32;

void writeJpeg(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot write " + path);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(&rgb[size_t(cinfo.next_scanline) * size_t(width) * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

// Pictures kept between runs: a gradient and a soft disc in colours of its own.
std::vector<std::string> benchPictures()
{
    const fs::path dir = fs::temp_directory_path() / "tesserix-bench-render";
    fs::create_directories(dir);
    std::vector<std::string> paths;
    std::mt19937 rng(5);
    std::vector<uint8_t> rgb(size_t(kPictureSide) * kPictureSide * 3);
    for (int i = 0; i < kPictures; ++i) {
        const int base[3] = {int(rng() % 256), int(rng() % 256), int(rng() % 256)};
        const int cx = int(rng() % kPictureSide), cy = int(rng() % kPictureSide);
        char name[32];
        std::snprintf(name, sizeof name, "pic%04d.jpg", i);
        const fs::path path = dir / name;
        paths.push_back(path.string());
        if (fs::exists(path))
            continue;
        for (int y = 0; y < kPictureSide; ++y)
            for (int x = 0; x < kPictureSide; ++x) {
                const double disc = 80 * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 3000.0);
                uint8_t* p = &rgb[(size_t(y) * kPictureSide + size_t(x)) * 3];
                for (int ch = 0; ch < 3; ++ch)
                    p[ch] = uint8_t(std::clamp(base[ch] + (ch == 0 ? x : y) / 4 - 32 + disc, 0.0, 255.0));
            }
        writeJpeg(path.string(), rgb, kPictureSide, kPictureSide);
    }
    return paths;
}

class QuietHost : public RenderHost {
public:
    explicit QuietHost(const std::vector<std::string>& paths) : m_paths(paths) {}
    std::string imagePath(int index) override { return m_paths.at(size_t(index)); }
    std::string sourcePath() override { return {}; }
    void progress(int) override {}
    void repaint() override {}
    void rowsFinished(int, int) override {}
    void message(const std::string&, const std::string&) override {}
    void finished(bool success, const std::string& text) override
    {
        ok = success;
        error = text;
    }
    bool ok = false;
    std::string error;

private:
    const std::vector<std::string>& m_paths;
};

double g_renderSeconds = 0, g_perCellSeconds = 0;
long g_peakMB = 0;
bool g_ok = false;

void renderFullMosaic(benchmark::State& state)
{
    const std::vector<std::string> paths = benchPictures();
    auto job = std::make_unique<MosaicJob>();
    MosaicSettings& s = job->settings;
    s = MosaicSettings::wizardDefaults();
    s.rows = s.cols = kSide;
    s.cellWidth = s.cellHeight = kCell;
    s.mosaicWidth = s.mosaicHeight = kSide * kCell;
    std::mt19937 rng(17);
    for (int c = 0; c < kSide; ++c)
        for (int r = 0; r < kSide; ++r)
            job->placementGrid.at(c, r) =
                CellPlacement{int(rng() % kPictures), int(rng() % 61) - 30, int(rng() % 61) - 30, int(rng() % 61) - 30, 1};
    job->mosaicImage.Allocate(s.mosaicWidth, s.mosaicHeight, 24);

    for (auto _ : state) {
        QuietHost host(paths);
        const auto start = std::chrono::steady_clock::now();
        Random random;
        renderMosaic(*job, random, host);
        g_renderSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        g_ok = host.ok;
        if (!host.ok)
            std::fprintf(stderr, "render failed: %s\n", host.error.c_str());
        state.SetIterationTime(g_renderSeconds);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    g_peakMB = usage.ru_maxrss / 1024;

    // The same per-cell work with a fresh decode for every cell, on a sample.
    constexpr int kSample = 3000;
    TDIB cell;
    cell.Allocate(kCell, kCell, 24);
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < kSample; ++k) {
        const CellPlacement& p = job->placementGrid.at(k % kSide, k / kSide);
        TPicture picture;
        LoadPicture(paths[size_t(p.imageIndex)], picture);
        stretchAreaAverage(*picture.Graphic()->PixelRaster(), TRect{0, 0, kPictureSide, kPictureSide}, cell,
                           TRect{0, 0, kCell, kCell});
        adjustColours(cell, -p.redOffset, -p.greenOffset, -p.blueOffset, false);
    }
    g_perCellSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() *
                       (double(kSide) * kSide / kSample);
    state.counters["peak_MB"] = double(g_peakMB);
}
BENCHMARK(renderFullMosaic)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("render 640x640 cells of 32x32 from 2000 JPEGs: %.2f s, peak memory %ld MB (mosaic %d MB); "
                "decoding per cell would take ~%.1f s: %.1fx\n",
                g_renderSeconds, g_peakMB, kSide * kCell * kSide * kCell * 3 / (1 << 20), g_perCellSeconds,
                g_perCellSeconds / g_renderSeconds);
    return g_ok ? 0 : 1;
}
