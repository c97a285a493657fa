#include "wizard/session.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "engine/placement.h"
#include "imageio/picture.h"
#include "raster/errors.h"

namespace tsx {

DetailSignatures detailSignaturesOf(const std::vector<std::string>& paths, int grid, int cellWidth, int cellHeight,
                                    bool stretchCells, const StepProgress& progress)
{
    const size_t count = paths.size();
    std::vector<DetailSignatures> each(count);
    std::vector<std::string> errors(count);
    std::atomic<size_t> next{0}, done{0};
    auto work = [&] {
        for (size_t i = next++; i < count; i = next++) {
            try {
                TPicture picture;
                LoadPicture(paths[i], picture);
                const TGraphic* graphic = picture.Graphic();
                const TDIB* raster = graphic ? graphic->PixelRaster() : nullptr;
                each[i].grid = grid;
                appendDetailSignature(each[i], raster ? *raster : TDIB{}, cellWidth, cellHeight, stretchCells);
            } catch (const std::exception& e) {
                errors[i] = e.what();
                next = count;  // the first failure ends the work
            }
            ++done;
        }
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::atomic<unsigned> running{threads};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            work();
            --running;
        });
    // this thread only reports, so a caller's progress runs where it was called
    while (progress && running.load() > 0) {
        progress(done.load(), count);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (std::thread& t : workers)
        t.join();
    for (size_t i = 0; i < count; ++i) {
        if (!errors[i].empty()) {
            std::string text = errors[i];
            if (text.find(paths[i]) == std::string::npos)
                text += " (" + paths[i] + ")";
            throw Error(text);
        }
    }
    DetailSignatures out;
    out.grid = grid;
    out.colours.reserve(count * size_t(grid * grid));
    for (const DetailSignatures& d : each)
        out.colours.insert(out.colours.end(), d.colours.begin(), d.colours.end());
    if (progress)
        progress(count, count);
    return out;
}

void placeJob(Session& session, const CreationOptions& options, std::optional<uint32_t> seed,
              const StepProgress& progress)
{
    MosaicSettings& s = session.job.settings;
    s.selfMosaic = options.selfMosaic;
    s.monoCells = options.monoCells;
    s.allowVFlip = options.allowVFlip;
    s.allowHFlip = options.allowHFlip;
    s.useAll = options.useAll;
    s.limitRepeat = options.limitRepeat;
    s.noClose = options.noClose;
    s.maxRepeat = options.maxRepeat;
    s.randomLevel = options.randomLevel;
    s.stretchCells = !options.cutEdges;
    s.cutEdges = options.cutEdges;
    s.colorEnhanceOff = options.colorEnhanceOff;

    const int imageCount = int(std::min<size_t>(session.imageList.count(), size_t(INT32_MAX)));
    MosaicJob& job = session.job;
    job.detailGrid = options.selfMosaic ? 0 : options.detailGrid;
    if (job.detailGrid > 0) {
        std::vector<std::string> paths = session.imageList.paths();
        paths.resize(size_t(imageCount));
        job.detailSignatures =
            detailSignaturesOf(paths, job.detailGrid, s.cellWidth, s.cellHeight, s.stretchCells, progress);
    }
    if (seed) {
        session.random.setState(*seed);
        placeCellsUnseeded(session.job, session.random, imageCount);
    } else {
        placeCells(session.job, session.random, imageCount);
    }
}

PreparedRender prepareRender(Session& session)
{
    return PreparedRender{ session.job, session.random,
                           RenderSources{ session.imageList.paths(), session.sourceFileName }, &session.keptCells };
}

void useKeptPictures(const PreparedRender& render, RenderOptions& options)
{
    if (!render.kept || options.keptPicture)
        return;
    const KeptCellPictures* kept = render.kept;
    options.keptPicture = [kept](const std::string& path, int cellWidth, int cellHeight, bool stretchCells) {
        return kept->find(path, cellWidth, cellHeight, stretchCells);
    };
}

std::string SourcesRenderHost::imagePath(int index)
{
    if (index < 0 || size_t(index) >= m_sources.imagePaths.size())
        throw EListError(formatMessage(msg::kListIndex, index));
    return m_sources.imagePaths[size_t(index)];
}

void runRender(const PreparedRender& render, RenderHost& host, const RenderOptions& options)
{
    RenderOptions withKept = options;
    useKeptPictures(render, withKept);
    renderMosaic(render.job, render.random, host, withKept);
}

}  // namespace tsx
