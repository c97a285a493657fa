// Detail matching against mean-colour matching, in one run:
//  - quality: the same photograph-like source and pictures placed both ways
//    and drawn, then SSIM at 4 pixels a cell and PSNR at one pixel a cell
//    against the source (detail must reach 1.4 x the SSIM, within 0.5 dB);
//  - speed: placement of 640 x 640 cells against 2,000 pictures with a
//    3 x 3 grid against mean-colour placement of the same job, both with
//    the wizard's options (at most 3 x).
// Writes both mosaics, side by side, to detail-side-by-side.bmp.
//   bench_detail [--quick]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/detail.h"
#include "engine/fidelity.h"
#include "engine/placement.h"
#include "raster/dib.h"
#include "tools/sample_art.h"
#include "wizard/mosaic_size.h"
#include "wizard/session.h"

namespace {

using namespace tsx;
namespace fs = std::filesystem;

TDIB toDib(const samples::RgbImage& img)
{
    TDIB dib;
    dib.Allocate(img.width, img.height, 24);
    for (int y = 0; y < img.height; ++y) {
        uint8_t* row = dib.RowPointer(y);
        const uint8_t* src = img.pixels.data() + size_t(y) * size_t(img.width) * 3;
        for (int x = 0; x < img.width; ++x) {
            row[3 * x] = src[3 * x + 2];
            row[3 * x + 1] = src[3 * x + 1];
            row[3 * x + 2] = src[3 * x];
        }
    }
    return dib;
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Quality {
    Fidelity fidelity;
    TDIB mosaic;
};

Quality placeAndDraw(const fs::path& folder, const TDIB& source, int detailGrid, int rows, int cols, int cell)
{
    Session session;
    MosaicJob& job = session.job;
    job.settings = MosaicSettings::wizardDefaults();
    job.sourcePicture.Bitmap().Dib() = source;
    applySize(job, rows, cols, cell, cell);
    session.imageList.loadFolder(folder.string());
    CreationOptions options;
    options.detailGrid = detailGrid;
    placeJob(session, options, 20261208u);
    const PreparedRender render = prepareRender(session);
    SilentRenderHost host(render.sources);
    runRender(render, host);
    if (!host.ok)
        std::fprintf(stderr, "render failed: %s\n", host.error.c_str());
    return Quality{ mosaicFidelity(job.mosaicImage, adjustedSource(job), rows, cols), job.mosaicImage };
}

}  // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const fs::path folder = fs::temp_directory_path() / "tesserix-bench-detail";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const int pictures = quick ? 300 : 1000;
    static const int sizes[][2] = { { 160, 120 }, { 120, 160 }, { 144, 144 } };
    for (int i = 0; i < pictures; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "p%05d.bmp", i);
        toDib(samples::samplePicture(i, sizes[i % 3][0], sizes[i % 3][1])).WriteBmp((folder / name).string());
    }
    const int rows = quick ? 36 : 72, cols = quick ? 48 : 96, cell = 24;
    const TDIB source = toDib(samples::sourcePicture(cols * 16, rows * 16));

    const Quality mean = placeAndDraw(folder, source, 0, rows, cols, cell);
    const Quality detail = placeAndDraw(folder, source, kDetailGridDefault, rows, cols, cell);
    std::printf("quality, %d x %d cells of %d px from %d photograph-like pictures:\n", cols, rows, cell, pictures);
    std::printf("  mean colour      SSIM %.4f  PSNR %.2f dB\n", mean.fidelity.ssim, mean.fidelity.psnr);
    std::printf("  detail %d x %d    SSIM %.4f  PSNR %.2f dB\n", kDetailGridDefault, kDetailGridDefault,
                detail.fidelity.ssim, detail.fidelity.psnr);
    const double ssimRatio = detail.fidelity.ssim / mean.fidelity.ssim;
    const double psnrDrop = mean.fidelity.psnr - detail.fidelity.psnr;
    std::printf("  SSIM ratio %.2f (at least 1.40), PSNR change %+.2f dB (at most 0.50 lower)\n", ssimRatio,
                -psnrDrop);

    TDIB side;
    side.Allocate(mean.mosaic.Width() * 2, mean.mosaic.Height(), 24);
    for (int y = 0; y < side.Height(); ++y) {
        uint8_t* row = side.RowPointer(y);
        std::memcpy(row, mean.mosaic.ScanLine(y), size_t(mean.mosaic.Width()) * 3);
        std::memcpy(row + size_t(mean.mosaic.Width()) * 3, detail.mosaic.ScanLine(y), size_t(mean.mosaic.Width()) * 3);
    }
    side.WriteBmp("detail-side-by-side.bmp");
    std::printf("  both mosaics: detail-side-by-side.bmp (mean colour left)\n");

    // Speed: the signatures of the same job both ways, placement alone.
    const int side640 = quick ? 320 : 640, count = quick ? 1000 : 2000;
    MosaicJob job;
    job.settings = MosaicSettings::wizardDefaults();
    const TDIB big = toDib(samples::sourcePicture(side640 * 3, side640 * 3));
    job.sourcePicture.Bitmap().Dib() = big;
    applySize(job, side640, side640, 24, 24);
    DetailSignatures signatures{ kDetailGridDefault, {} };
    for (int i = 0; i < count; ++i) {
        const TDIB p = toDib(samples::samplePicture(i, 48, 36));
        appendDetailSignature(signatures, p, 24, 24, true);
        TPicture picture;
        picture.Bitmap().Dib() = p;
        appendSignature(job.signatureStream, computeSignature(picture));
    }
    Random random;
    random.setState(1);
    auto start = std::chrono::steady_clock::now();
    placeCellsUnseeded(job, random, count);
    const double meanSeconds = seconds(start);
    start = std::chrono::steady_clock::now();
    (void)computeCellDetail(big, side640, side640, kDetailGridDefault, 0, 0, 0, false);
    const double cellSeconds = seconds(start);
    job.detailGrid = kDetailGridDefault;
    job.detailSignatures = std::move(signatures);
    random.setState(1);
    start = std::chrono::steady_clock::now();
    placeCellsUnseeded(job, random, count);
    const double detailSeconds = seconds(start);
    std::printf("speed, %d x %d cells against %d pictures (the wizard's options):\n", side640, side640,
                count);
    std::printf("  mean colour %.2f s, detail %d x %d %.2f s (%.2f s of it the cells' colours): ratio %.2f (at most "
                "3.00)\n",
                meanSeconds, kDetailGridDefault, kDetailGridDefault, detailSeconds, cellSeconds,
                detailSeconds / meanSeconds);
    fs::remove_all(folder);
    const bool ok = ssimRatio >= 1.4 && psnrDrop <= 0.5 && detailSeconds <= 3 * meanSeconds;
    std::printf("%s\n", ok ? "all figures met" : "FIGURES NOT MET");
    return ok ? 0 : 1;
}
