// The batch tool's way of drawing a mosaic, one band of cell rows at a time
// into its file on every core, against drawing the whole raster in memory
// on one drawing thread and writing it after: 640 × 480 cells of 32 × 32
// pixels (20480 × 15360) from 500 pictures to BMP, each in a process of its
// own, with its peak memory and wall time, and the two files compared byte
// for byte. Then a poster to TIFF (Deflate, 300 dpi) from flat pictures,
// read back: its size, resolution and the colour of a sample of cells.
//   bench_streamed_output [work folder] [--full-poster]
// The poster is 320 × 320 cells of 64 px (20480 × 20480) unless
// --full-poster asks for 640 × 640 (40960 × 40960, 5 GB of pixels).
// Exits 1 when a figure is missed.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <tiffio.h>

#include "app/project_file.h"
#include "engine/render_to_file.h"
#include "wizard/mosaic_size.h"
#include "wizard/session.h"

namespace {

using namespace tsx;
namespace fs = std::filesystem;

constexpr int kPictures = 500;

struct Run {
    double seconds = 0;
    double peakMB = 0;
    double cpuSeconds = 0;
    bool ok = false;
};

// Runs body in a child process: its wall time and peak resident memory.
template <class Body>
Run inChild(Body body)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body() ? 0 : 1);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMB = double(usage.ru_maxrss) / 1024.0;
    run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// Flat pictures of kPictures colours and a gradient source, made once.
void makePictures(const fs::path& work)
{
    const fs::path folder = work / "flat";
    if (fs::exists(folder / ".complete"))
        return;
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::mt19937 random(7);
    for (int k = 0; k < kPictures; ++k) {
        TDIB dib;
        dib.Allocate(40, 30, 24);
        const uint8_t b = uint8_t(random()), g = uint8_t(random()), r = uint8_t(random());
        for (int y = 0; y < 30; ++y) {
            uint8_t* p = dib.RowPointer(y);
            for (int x = 0; x < 40; ++x, p += 3) {
                p[0] = b;
                p[1] = g;
                p[2] = r;
            }
        }
        dib.WriteBmp((folder / ("p" + std::to_string(k) + ".bmp")).string());
    }
    TDIB source;
    source.Allocate(640, 480, 24);
    for (int y = 0; y < 480; ++y) {
        uint8_t* p = source.RowPointer(y);
        for (int x = 0; x < 640; ++x, p += 3) {
            p[0] = uint8_t(x * 255 / 639);
            p[1] = uint8_t(y * 255 / 479);
            p[2] = uint8_t(255 - (x + y) * 255 / 1118);
        }
    }
    source.WriteBmp((work / "source.bmp").string());
    std::ofstream(folder / ".complete") << "";
}

// A placed session of rows × cols cells of side pixels, as `make` places it.
void placeSession(Session& session, const fs::path& work, int rows, int cols, int side)
{
    MosaicJob& job = session.job;
    job.settings = MosaicSettings::wizardDefaults();
    LoadPicture((work / "source.bmp").string(), job.sourcePicture);
    session.sourceFileName = (work / "source.bmp").string();
    recomputeSize(job.settings, rows, cols, side, side);
    buildCellColourRaster(job.sourcePicture, job.settings, job.cellColourRaster);
    if (session.imageList.count() == 0)
        session.imageList.loadFolder((work / "flat").string());
    placeJob(session, CreationOptions{}, 1);
}

bool sameFiles(const std::string& a, const std::string& b)
{
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        fa.read(ba.data(), std::streamsize(ba.size()));
        fb.read(bb.data(), std::streamsize(bb.size()));
        if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), size_t(fa.gcount())) != 0)
            return false;
        if (fa.gcount() == 0)
            return true;
    }
}

// The poster's size, resolution, and the centre pixel of sampled cells
// against the colour each flat picture is shifted to: its cell's colour.
bool checkPoster(const std::string& file, const MosaicJob& job)
{
    const MosaicSettings& s = job.settings;
    TIFF* tif = TIFFOpen(file.c_str(), "r");
    if (!tif)
        return false;
    uint32_t width = 0, height = 0;
    float xres = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres);
    bool ok = int(width) == s.mosaicWidth && int(height) == s.mosaicHeight && xres == 300.f;
    std::printf("poster read back: %u x %u pixels at %.0f dpi\n", width, height, double(xres));
    std::vector<uint8_t> row(size_t(TIFFScanlineSize(tif)));
    std::mt19937 random(11);
    int checked = 0, wrong = 0;
    // compressed strips are read top-down: one sampled row per sampled cell row
    for (int r = 0; r < s.rows; r += 1 + int(random() % 37)) {
        const uint32_t y = uint32_t(r * s.cellHeight + s.cellHeight / 2);
        for (uint32_t read = y - uint32_t(s.cellHeight / 2); read <= y; ++read)
            if (TIFFReadScanline(tif, row.data(), read, 0) != 1)
                return false;
        for (int k = 0; k < 8; ++k) {
            const int c = int(random() % uint32_t(s.cols));
            const uint8_t* want = job.cellColourRaster.ScanLine(r) + 3 * c;  // blue, green, red
            const uint8_t* got = row.data() + 3 * size_t(c * s.cellWidth + s.cellWidth / 2);
            ++checked;
            if (got[0] != want[2] || got[1] != want[1] || got[2] != want[0])
                ++wrong;
        }
    }
    TIFFClose(tif);
    std::printf("poster cells checked: %d, wrong: %d\n", checked, wrong);
    return ok && wrong == 0 && checked > 0;
}

}  // namespace

int main(int argc, char** argv)
{
    fs::path work = "bench-stream-work";
    bool fullPoster = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--full-poster")
            fullPoster = true;
        else
            work = argv[i];
    }
    fs::create_directories(work);
    makePictures(work);
    bool pass = true;

    {
        Session session;
        placeSession(session, work, 480, 640, 32);
        const std::string memoryFile = (work / "memory.bmp").string(), streamedFile = (work / "streamed.bmp").string();
        fs::remove(memoryFile);
        fs::remove(streamedFile);
        // today's way: the whole raster, one drawing thread, then the file
        const Run memory = inChild([&] {
            sizeMosaicForProject(session.job);
            const PreparedRender render = prepareRender(session);
            SilentRenderHost host(render.sources);
            RenderOptions options;
            options.drawThreads = 1;
            runRender(render, host, options);
            if (host.ok)
                session.job.mosaicImage.WriteBmp(memoryFile);
            if (!host.ok)
                std::fprintf(stderr, "render failed: %s\n", host.error.c_str());
            return host.ok;
        });
        const Run streamed = inChild([&] {
            const PreparedRender render = prepareRender(session);
            SilentRenderHost host(render.sources);
            RenderOptions options;
            options.cacheBytes = size_t(64) << 20;
            renderMosaicToFile(render.job, render.random, host, streamedFile, {}, options);
            if (!host.ok)
                std::fprintf(stderr, "render failed: %s\n", host.error.c_str());
            return host.ok;
        });
        const bool same = memory.ok && streamed.ok && sameFiles(memoryFile, streamedFile);
        std::printf("640 x 480 cells of 32 px (20480 x 15360) from %d pictures to BMP, %u cores:\n", kPictures,
                    std::thread::hardware_concurrency());
        std::printf("  in memory, one drawing thread: %.1f s (cpu %.1f s), peak %.0f MB\n", memory.seconds,
                    memory.cpuSeconds, memory.peakMB);
        std::printf("  streamed, every core:          %.1f s (cpu %.1f s), peak %.0f MB\n", streamed.seconds,
                    streamed.cpuSeconds, streamed.peakMB);
        std::printf("  wall time ratio streamed / in memory: %.2f (at most 0.60)\n", streamed.seconds / memory.seconds);
        std::printf("  peak memory ratio streamed / in memory: %.3f (streamed at most 96 MB)\n",
                    streamed.peakMB / memory.peakMB);
        std::printf("  files byte-identical: %s (%ju bytes)\n", same ? "yes" : "NO",
                    uintmax_t(fs::exists(streamedFile) ? fs::file_size(streamedFile) : 0));
        pass = pass && same && streamed.peakMB <= 96 && streamed.seconds <= 0.6 * memory.seconds;
        fs::remove(memoryFile);
        fs::remove(streamedFile);
    }

    {
        const int side = fullPoster ? 640 : 320;
        Session session;
        placeSession(session, work, side, side, 64);
        const std::string posterFile = (work / "poster.tif").string();
        ImageWriteOptions tiff;
        tiff.kind = ImageFileKind::Tiff;
        tiff.tiffCompression = TiffCompression::Deflate;
        tiff.dpi = 300;
        const Run poster = inChild([&] {
            const PreparedRender render = prepareRender(session);
            SilentRenderHost host(render.sources);
            RenderOptions options;
            options.cacheBytes = size_t(64) << 20;
            renderMosaicToFile(render.job, render.random, host, posterFile, tiff, options);
            if (!host.ok)
                std::fprintf(stderr, "render failed: %s\n", host.error.c_str());
            return host.ok;
        });
        std::printf("poster of %d x %d cells of 64 px (%d x %d) to TIFF, Deflate, 300 dpi:\n", side, side, side * 64,
                    side * 64);
        std::printf("  %.1f s, peak %.0f MB (at most 256 MB), file %ju bytes, pixels %.2f GB\n", poster.seconds,
                    poster.peakMB, uintmax_t(fs::exists(posterFile) ? fs::file_size(posterFile) : 0),
                    double(side) * 64 * side * 64 * 3 / 1e9);
        const bool readBack = poster.ok && checkPoster(posterFile, session.job);
        pass = pass && readBack && poster.peakMB <= 256;
        fs::remove(posterFile);
    }
    std::printf("%s\n", pass ? "all figures met" : "FIGURES MISSED");
    return pass ? 0 : 1;
}
