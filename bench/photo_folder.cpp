// A folder of today's photos: JPEGs of 4000 x 3000 at quality 90, a quarter
// of them lying on their side (orientation 6), and PNG, WebP and HEIC copies
// of some. Measures, in one run, on one decoding thread and then on the
// load's default of one per core:
//   - the folder load against decoding every picture whole for its signature,
//     and checks that the signatures are the same;
//   - a make of 64 x 48 cells of 32 x 32 that uses every picture (the load,
//     which keeps the cell pictures, placing, and the render, which decodes
//     only what was not kept), against decoding every file whole twice;
//   - a second load of the folder through the signature cache against the first.
//   bench_photo_folder [--pictures N]   (200 by default)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/mosaic_job.h"
#include "imageio/picture.h"
#include "raster/byte_io.h"
#include "tests/unit/photo_support.h"
#include "tools/sample_art.h"
#include "wizard/image_list.h"
#include "wizard/kept_cells.h"
#include "wizard/mosaic_size.h"
#include "wizard/session.h"
#include "wizard/signature_cache.h"

namespace {

namespace fs = std::filesystem;
using namespace tsx;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 4000, kHeight = 3000;
constexpr int kCellWidth = 32, kCellHeight = 32;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A photograph-like picture: a painted scene, enlarged smoothly, with grain.
photos::Rgba photo(int index)
{
    const samples::RgbImage small = samples::samplePicture(index, kWidth / 4, kHeight / 4);
    photos::Rgba img(kWidth, kHeight);
    uint32_t noise = 2654435761u * uint32_t(index + 1);
    for (int y = 0; y < kHeight; ++y) {
        const double fy = std::min(double(small.height - 1), y / 4.0);
        const int y0 = int(fy), y1 = std::min(y0 + 1, small.height - 1);
        const double ty = fy - y0;
        for (int x = 0; x < kWidth; ++x) {
            const double fx = std::min(double(small.width - 1), x / 4.0);
            const int x0 = int(fx), x1 = std::min(x0 + 1, small.width - 1);
            const double tx = fx - x0;
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 28) - 8;
            uint8_t* out = img.at(x, y);
            for (int c = 0; c < 3; ++c) {
                auto at = [&](int px, int py) { return small.pixels[(size_t(py) * size_t(small.width) + size_t(px)) * 3 + size_t(c)]; };
                const double v = (at(x0, y0) * (1 - tx) + at(x1, y0) * tx) * (1 - ty) + (at(x0, y1) * (1 - tx) + at(x1, y1) * tx) * ty;
                out[c] = samples::toByte(v + grain);
            }
        }
    }
    return img;
}

struct Folder {
    std::string path;
    size_t jpegs = 0, turned = 0, others = 0;
};

Folder makeFolder(int pictures)
{
    Folder f;
    f.path = (fs::temp_directory_path() / ("tsx-bench-photos-" + std::to_string(::getpid()))).string();
    fs::create_directories(f.path);
    // a few distinct photos, each written under many names, plain and turned
    constexpr int kDistinct = 4;
    const photos::Bytes exif = photos::exifBlock(6);
    std::vector<photos::Bytes> plain, turned;
    std::vector<photos::Rgba> images;
    for (int i = 0; i < kDistinct; ++i) {
        images.push_back(photo(i));
        plain.push_back(photos::jpeg(images.back(), 90));
        turned.push_back(photos::jpeg(images.back(), 90, &exif));
    }
    for (int i = 0; i < pictures; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.jpg", i);
        const bool sideways = i % 4 == 3;
        writeWholeFile(f.path + "/" + name, sideways ? turned[size_t(i % kDistinct)] : plain[size_t(i % kDistinct)]);
        ++f.jpegs;
        f.turned += sideways ? 1 : 0;
    }
    const int copies = std::max(1, pictures / 50);
    for (int i = 0; i < copies; ++i) {
        const photos::Rgba& img = images[size_t(i % kDistinct)];
        writeWholeFile(f.path + "/copy_" + std::to_string(i) + ".png", photos::rgbaPng(img));
        writeWholeFile(f.path + "/copy_" + std::to_string(i) + ".webp", photos::webp(img, 90));
        f.others += 2;
    }
    const photos::Bytes heic = photos::heif(images[0], heif_compression_HEVC);
    if (!heic.empty()) {
        writeWholeFile(f.path + "/copy_0.heic", heic);
        ++f.others;
    }
    return f;
}

}  // namespace

int main(int argc, char** argv)
{
    int pictures = 200;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--pictures") == 0)
            pictures = std::max(4, std::atoi(argv[i + 1]));

    auto start = Clock::now();
    const Folder folder = makeFolder(pictures);
    const std::vector<std::string> files = listImageFiles(folder.path);
    std::printf("folder: %zu JPEGs of %d x %d (%zu turned), %zu PNG/WebP/HEIC copies, made in %.1f s\n",
                folder.jpegs, kWidth, kHeight, folder.turned, folder.others, since(start));

    // today's: every picture decoded whole for its signature
    start = Clock::now();
    std::vector<CellSignature> whole;
    {
        TPicture picture;
        for (const std::string& f : files) {
            LoadPicture(f, picture);
            whole.push_back(computeSignature(picture));
        }
    }
    const double wholeLoad = since(start);

    FolderLoadOptions options;
    options.threads = 1;
    // what no exact sample can go below: every block before the last sampled
    // row has to be entropy-decoded, and a 1/8 decode does little else
    start = Clock::now();
    for (const std::string& f : files) {
        TPicture picture;
        LoadPictureCovering(f, picture, 1, 1);
    }
    const double eighthLoad = since(start);
    std::printf("entropy decoding alone (every file at 1/8): %.2f s: ratio %.3f to the whole decode\n", eighthLoad,
                eighthLoad / wholeLoad);

    auto sampledLoad = [&](unsigned threads, bool check, bool keep = false) {
        FolderLoadOptions o = options;
        o.threads = threads;
        KeptCellPictures kept;
        if (keep) {
            kept.prepare(kCellWidth, kCellHeight, size_t(64) << 20);
            o.keep = &kept;
        }
        std::vector<uint8_t> stream;
        ImageList list(stream);
        const auto t = Clock::now();
        list.loadFolder(folder.path, o);
        const double seconds = since(t);
        size_t same = 0;
        for (size_t i = 0; check && i < files.size() && i < list.count(); ++i)
            same += signatureAt(stream, i) == whole[i] ? 1 : 0;
        if (check)
            std::printf("signatures equal to the whole decode's on %zu of %zu files\n", same, files.size());
        return seconds;
    };
    const double oneThread = sampledLoad(1, true), allThreads = sampledLoad(0, false);
    const double keeping = sampledLoad(1, false, true);
    std::printf("folder load: whole decode %.2f s; sampled on one thread %.2f s: ratio %.3f; on every core "
                "%.2f s: ratio %.3f (target <= 0.4); keeping 32 x 32 cell pictures on one thread %.2f s: "
                "ratio %.3f\n",
                wholeLoad, oneThread, oneThread / wholeLoad, allThreads, allThreads / wholeLoad, keeping,
                keeping / wholeLoad);

    // the cell pictures of today's make: one whole decode per file, scaled
    const auto wholeStart = Clock::now();
    for (const std::string& f : files) {
        TPicture picture;
        LoadPicture(f, picture);
        TDIB cell;
        cell.Allocate(kCellWidth, kCellHeight, 24);
        const TDIB& src = picture.Bitmap().Dib();
        stretchAreaAverage(src, TRect{0, 0, src.Width(), src.Height()}, cell, TRect{0, 0, kCellWidth, kCellHeight});
    }
    const double wholeCells = since(wholeStart);

    // a make as the batch tool runs it: the load keeps the cell pictures, the
    // render draws them and decodes only what was not kept
    auto make = [&](unsigned threads, bool keep, size_t* kept, size_t* drawnFromStore) {
        Session session;
        session.job.settings = MosaicSettings::wizardDefaults();
        LoadPicture(files[0], session.job.sourcePicture);
        session.sourceFileName = files[0];
        applySize(session.job, 48, 64, kCellWidth, kCellHeight);
        FolderLoadOptions o = options;
        o.threads = threads;
        if (keep) {
            session.keptCells.prepare(kCellWidth, kCellHeight, size_t(64) << 20);
            o.keep = &session.keptCells;
        }
        const auto t = Clock::now();
        session.imageList.loadFolder(folder.path, o);
        // every picture in the mosaic, as the whole-decode figure assumes:
        // each file decoded for its signature and again for its cells
        CreationOptions creation;
        creation.useAll = true;
        placeJob(session, creation, 42u);
        const PreparedRender render = prepareRender(session);
        SilentRenderHost host(render.sources);
        RenderOptions renderOptions;
        renderOptions.decodeThreads = int(threads);
        renderOptions.drawThreads = int(threads);
        runRender(render, host, renderOptions);
        const double seconds = since(t);
        if (kept)
            *kept = session.keptCells.size();
        if (drawnFromStore)
            *drawnFromStore = session.keptCells.hits();
        return seconds;
    };
    size_t kept = 0, fromStore = 0;
    const double makeOne = make(1, true, &kept, &fromStore);
    const double makeAll = make(0, true, nullptr, nullptr);
    const double makeUnkept = make(1, false, nullptr, nullptr);
    std::printf("make of 64 x 48 cells of 32 x 32 using every picture (load, place, render): whole decodes twice %.2f s; "
                "%zu cell pictures kept, %zu drawn from them; on one thread %.2f s: ratio %.3f; on every core "
                "%.2f s: ratio %.3f (target <= 0.25); on one thread without keeping them %.2f s: ratio %.3f\n",
                wholeLoad + wholeCells, kept, fromStore, makeOne, makeOne / (wholeLoad + wholeCells), makeAll,
                makeAll / (wholeLoad + wholeCells), makeUnkept, makeUnkept / (wholeLoad + wholeCells));

    const std::string cacheFile = folder.path + "-cache/signatures";
    double first = 0, second = 0;
    for (double* t : {&first, &second}) {
        SignatureCache cache(cacheFile);
        cache.readFile();
        FolderLoadOptions cached = options;
        cached.cache = &cache;
        std::vector<uint8_t> s;
        ImageList l(s);
        start = Clock::now();
        l.loadFolder(folder.path, cached);
        *t = since(start);
    }
    std::printf("signature cache: first load %.2f s, second %.4f s: ratio %.4f (target <= 0.05)\n", first, second,
                second / first);

    fs::remove_all(folder.path);
    fs::remove_all(folder.path + "-cache");
    return 0;
}
