// Drawing a placed job into mosaicImage, and the render thread that does it.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "engine/mosaic_job.h"
#include "engine/random.h"
#include "engine/render_host.h"

namespace tsx {

/// How a render may use the machine. The defaults suit the desktop program.
struct RenderOptions {
    // Memory for the scaled cell pictures kept between the cells that use
    // them; past it, pictures are dropped and decoded again when needed.
    size_t cacheBytes = size_t(256) << 20;
    // Threads that decode picture files ahead of the drawing (0: one per core).
    int decodeThreads = 0;
    // Threads that draw cells (0: one per core). The flips of a row are drawn
    // from the generator in cell order before its cells are drawn, so the
    // pixels and the generator's sequence are the same for any number.
    int drawThreads = 0;
    // Drawing in bands: when set, job.mosaicImage is left alone and the mosaic
    // is drawn bandRows cell rows at a time into a raster of its width, which
    // is handed over once its rows are final (pixelRows of them from the top;
    // the last band may be lower). Memory is one band, whatever the mosaic.
    std::function<void(const TDIB& band, int pixelRows)> bandFinished{};
    int bandRows = 1;
    // When set, asked first for a file's picture already scaled to the cell
    // (width, height, stretched or cut); what it gives is drawn without
    // decoding the file. Called from several threads at once.
    std::function<std::optional<TDIB>(const std::string& path, int cellWidth, int cellHeight, bool stretchCells)>
        keptPicture{};
};

/// The part of a picture of width × height that fills a cell of
/// cellWidth × cellHeight: all of it when stretching, else the centred crop
/// of the cell's aspect ratio.
TRect cellSourceRect(int width, int height, int cellWidth, int cellHeight, bool stretchCells);

/// An upright picture scaled to a cell as a render does it, before any
/// colour shift; a picture without pixels gives a black cell.
TDIB scalePictureToCell(const TDIB& picture, int cellWidth, int cellHeight, bool stretchCells);

/// The picture of a file scaled to the job's cell, before any colour shift.
/// Raises when the file cannot be loaded.
TDIB scaledCellPicture(const std::string& path, const MosaicSettings& settings);

/// Shifts a scaled cell picture towards the cell's colour and flips it, the
/// way a render finishes every cell.
void finishCellPicture(TDIB& cell, const MosaicSettings& settings, const CellPlacement& placement,
                       bool upsideDown, bool mirrored);

/// Draws every cell of the job into job.mosaicImage (or band by band, see
/// RenderOptions), row by row, reporting
/// through host; the flips draw from random. Never throws: a failure ends the render at the failing cell,
/// keeps the cells drawn so far and is reported by host.finished(false, text).
void renderMosaic(MosaicJob& job, Random& random, RenderHost& host, const RenderOptions& options = {});

/// The render thread: runs one renderMosaic and ends. The job, the generator
/// and the host must outlive it and must not change while it runs; the destructor waits
/// for the render to end.
class pagethread {
public:
    pagethread(MosaicJob& job, Random& random, RenderHost& host, RenderOptions options = {});
    ~pagethread();
    pagethread(const pagethread&) = delete;
    pagethread& operator=(const pagethread&) = delete;

    /// True once renderMosaic has returned (after host.finished).
    bool done() const { return m_done.load(); }
    void wait();

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

}  // namespace tsx
