#include "engine/render.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "raster/errors.h"

namespace tsx {

namespace {

constexpr const char* kNoSourceImage = "There is no source image for the self-mosaic cells";

// Raised at the first cell whose picture could not be made; carries the text
// that names the file.
class CellPictureError : public Error {
public:
    using Error::Error;
};

std::string describeFailure(const std::string& path, const char* what)
{
    std::string text = what;
    if (!path.empty() && text.find(path) == std::string::npos)
        text += " (" + path + ")";
    return text;
}

// The picture of one file scaled to the cell, before any colour shift.
TDIB loadScaledPicture(const std::string& path, int cellWidth, int cellHeight, bool stretchCells)
{
    TPicture picture;
    // a JPEG comes already shrunk by its DCT scaling, never below the cell
    LoadPictureCovering(path, picture, cellWidth, cellHeight);
    const TGraphic* graphic = picture.Graphic();
    const TDIB* source = graphic ? graphic->PixelRaster() : nullptr;
    return source ? scalePictureToCell(*source, cellWidth, cellHeight, stretchCells)
                  : scalePictureToCell(TDIB(), cellWidth, cellHeight, stretchCells);
}

}  // namespace

TDIB scalePictureToCell(const TDIB& picture, int cellWidth, int cellHeight, bool stretchCells)
{
    TDIB scaled;
    scaled.Allocate(cellWidth, cellHeight, 24);
    // A picture without pixels leaves the cell black rather than showing
    // whatever the previous cell held.
    if (picture.IsEmpty())
        return scaled;
    const TDIB* source = &picture;
    TDIB converted;
    if (source->BitCount() != 24) {
        converted = *source;
        converted.ChangeBitCount(24);
        source = &converted;
    }
    const TRect from = cellSourceRect(source->Width(), source->Height(), cellWidth, cellHeight, stretchCells);
    stretchAreaAverage(*source, from, scaled, TRect{0, 0, cellWidth, cellHeight});
    return scaled;
}

namespace {

// The scaled pictures of one render. Files are numbered in the order the
// cells first use them; helper threads decode them ahead of the drawing in
// that order while the memory budget allows, the drawing thread decodes
// whatever it reaches first itself. A picture is dropped after the last cell
// that uses it, or earlier (least recently used first) when the budget is
// exceeded, and is then decoded again if needed.
class ScaledPictureCache {
public:
    struct File {
        std::string path;
        std::string lookupError;  // set when the list had no path for the cell
        int lastUse = 0;
    };

    ScaledPictureCache(std::vector<File> files, int cellWidth, int cellHeight, bool stretchCells,
                       const RenderOptions& options)
        : m_cellWidth(cellWidth), m_cellHeight(cellHeight), m_stretchCells(stretchCells), m_kept(options.keptPicture)
    {
        m_entryBytes = size_t(TDIB::widthBytesFor(cellWidth, 24)) * size_t(cellHeight);
        m_budget = std::max(options.cacheBytes, m_entryBytes);
        m_entries.resize(files.size());
        for (size_t k = 0; k < files.size(); ++k) {
            Entry& e = m_entries[k];
            e.file = std::move(files[k]);
            if (!e.file.lookupError.empty()) {
                e.state = State::Failed;
                e.error = e.file.lookupError;
            }
        }
        int threads = options.decodeThreads;
        if (threads <= 0)
            threads = int(std::max(1u, std::thread::hardware_concurrency()));
        threads = std::min(threads, int(m_entries.size()) - 1);
        for (int t = 0; t < threads; ++t)
            m_workers.emplace_back([this] { prefetch(); });
    }

    ~ScaledPictureCache()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        for (std::thread& t : m_workers)
            t.join();
    }

    ScaledPictureCache(const ScaledPictureCache&) = delete;
    ScaledPictureCache& operator=(const ScaledPictureCache&) = delete;

    // The scaled picture of file k for cell number `cell`, sharing the
    // cache's pixels, which stay alive for the copy even when the cache drops
    // them; several drawing threads may hold it at once. Call done(k, cell)
    // after it. Throws CellPictureError when the file failed.
    TDIB acquire(size_t k, int cell)
    {
        std::unique_lock lock(m_mutex);
        Entry& e = m_entries[k];
        for (;;) {
            switch (e.state) {
            case State::Ready:
                e.lastTouched = std::max(e.lastTouched, cell);
                return e.scaled;
            case State::Failed:
                throw CellPictureError(e.error);
            case State::Loading:
                m_changed.wait(lock);
                break;
            case State::Waiting:
            case State::Released:
                e.state = State::Loading;
                m_liveBytes += m_entryBytes;
                evictOver(k);
                lock.unlock();
                load(k);
                lock.lock();
                break;
            }
        }
    }

    void done(size_t k, int cell)
    {
        std::lock_guard lock(m_mutex);
        Entry& e = m_entries[k];
        if (cell < e.file.lastUse || e.state != State::Ready)
            return;
        e.scaled = TDIB();
        e.state = State::Released;
        m_liveBytes -= m_entryBytes;
        m_changed.notify_all();
    }

private:
    enum class State { Waiting, Loading, Ready, Failed, Released };
    struct Entry {
        File file;
        State state = State::Waiting;
        TDIB scaled;
        std::string error;
        int lastTouched = -1;
    };

    // Called with the state set to Loading and its bytes counted.
    void load(size_t k)
    {
        const std::string path = m_entries[k].file.path;
        TDIB scaled;
        std::string error;
        try {
            std::optional<TDIB> kept;
            if (m_kept)
                kept = m_kept(path, m_cellWidth, m_cellHeight, m_stretchCells);
            scaled = kept ? std::move(*kept) : loadScaledPicture(path, m_cellWidth, m_cellHeight, m_stretchCells);
        } catch (const std::exception& ex) {
            error = describeFailure(path, ex.what());
        }
        std::lock_guard lock(m_mutex);
        Entry& e = m_entries[k];
        if (error.empty()) {
            e.scaled = std::move(scaled);
            e.state = State::Ready;
        } else {
            e.error = std::move(error);
            e.state = State::Failed;
            m_liveBytes -= m_entryBytes;
        }
        m_changed.notify_all();
    }

    // Drops the least recently drawn pictures until the budget holds again,
    // never the one about to be used.
    void evictOver(size_t keep)
    {
        while (m_liveBytes > m_budget) {
            size_t victim = m_entries.size();
            for (size_t k = 0; k < m_entries.size(); ++k) {
                const Entry& e = m_entries[k];
                if (k == keep || e.state != State::Ready)
                    continue;
                if (victim == m_entries.size() || e.lastTouched < m_entries[victim].lastTouched)
                    victim = k;
            }
            if (victim == m_entries.size())
                return;
            m_entries[victim].scaled = TDIB();
            m_entries[victim].state = State::Waiting;
            m_liveBytes -= m_entryBytes;
        }
    }

    void prefetch()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] {
                return m_stop || m_next >= m_entries.size() || m_liveBytes + m_entryBytes <= m_budget;
            });
            if (m_stop || m_next >= m_entries.size())
                return;
            const size_t k = m_next++;
            if (m_entries[k].state != State::Waiting)
                continue;
            m_entries[k].state = State::Loading;
            m_liveBytes += m_entryBytes;
            lock.unlock();
            load(k);
            lock.lock();
        }
    }

    int m_cellWidth, m_cellHeight;
    bool m_stretchCells;
    std::function<std::optional<TDIB>(const std::string&, int, int, bool)> m_kept;
    size_t m_entryBytes = 0;
    size_t m_budget = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Entry> m_entries;
    size_t m_liveBytes = 0;
    size_t m_next = 0;
    bool m_stop = false;
    std::vector<std::thread> m_workers;
};

// Offsets come from placement or a project file; negating INT_MIN would overflow.
int negated(int32_t offset)
{
    return offset == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max() : -offset;
}

void checkJob(const MosaicJob& job, bool banded)
{
    const MosaicSettings& s = job.settings;
    if (s.rows < 1 || s.rows > kGridSide || s.cols < 1 || s.cols > kGridSide || s.cellWidth < 1 ||
        s.cellHeight < 1)
        throw EInvalidGraphicOperation(formatMessage("Cannot draw %d x %d cells of %d x %d pixels", s.cols,
                                                     s.rows, s.cellWidth, s.cellHeight));
    if (banded)
        return;  // the band is made to fit
    const TDIB& mosaic = job.mosaicImage;
    if (mosaic.BitCount() != 24 || int64_t(mosaic.Width()) < int64_t(s.cols) * s.cellWidth ||
        int64_t(mosaic.Height()) < int64_t(s.rows) * s.cellHeight)
        throw EInvalidGraphicOperation(formatMessage("The mosaic image (%dx%d) cannot hold %d x %d cells of %d x %d pixels",
                                                     mosaic.Width(), mosaic.Height(), s.cols, s.rows,
                                                     s.cellWidth, s.cellHeight));
}

struct Flips {
    bool upsideDown = false;
    bool mirrored = false;
};

// Draws cell row r's cells on several threads into target at pixel row
// `top`. Each cell is made in a worker's own raster; the copies into the
// target happen in cell order, so a cell that fails stops the row exactly
// where a one-thread render stops: every cell before it drawn, none after.
class RowDrawer {
public:
    RowDrawer(MosaicJob& job, ScaledPictureCache& cache, const std::vector<uint32_t>& cellFile, int threads)
        : m_job(job), m_cache(cache), m_cellFile(cellFile), m_s(job.settings), m_threads(std::max(1, threads))
    {
        m_rasters.resize(size_t(m_threads));
        // runs of about 128 KB of cells: small cells in dozens, large ones alone
        const size_t cellBytes = size_t(TDIB::widthBytesFor(m_s.cellWidth, 24)) * size_t(m_s.cellHeight);
        m_run = int(std::clamp<size_t>((size_t(128) << 10) / cellBytes, 1, 64));
    }

    // Returns the column of the first failing cell (cols when none failed)
    // and leaves its failure in failure().
    int draw(int r, const std::vector<Flips>& flips, TDIB& target, int top, bool locked)
    {
        m_row = r;
        m_flips = &flips;
        m_target = &target;
        m_top = top;
        m_locked = locked;
        m_nextClaim = 0;
        m_nextCommit = 0;
        m_failedAt = m_s.cols;
        m_stop = false;
        m_failure = nullptr;
        const int helpers = std::min(m_threads, m_s.cols) - 1;
        std::vector<std::thread> workers;
        workers.reserve(size_t(helpers));
        for (int t = 1; t <= helpers; ++t) {
            try {
                workers.emplace_back([this, t] { work(m_rasters[size_t(t)]); });
            } catch (const std::system_error&) {
                break;  // fewer threads draw the same picture
            }
        }
        work(m_rasters[0]);
        for (std::thread& t : workers)
            t.join();
        return m_failedAt;
    }

    std::exception_ptr failure() const { return m_failure; }

private:
    // Claims a run of neighbouring cells at a time, so that the threads
    // meet at the lock once per run rather than once per cell.
    void work(std::vector<TDIB>& cells)
    {
        const size_t cellRowBytes = size_t(m_s.cellWidth) * 3;
        cells.resize(size_t(m_run));
        for (;;) {
            if (m_stop.load())
                return;
            const int first = m_nextClaim.fetch_add(m_run);
            if (first >= m_s.cols)
                return;
            const int count = std::min(m_run, m_s.cols - first);
            int made = 0;
            std::exception_ptr failure;
            try {
                for (; made < count; ++made)
                    makeCell(first + made, cells[size_t(made)]);
            } catch (...) {
                failure = std::current_exception();
            }
            std::unique_lock lock(m_mutex);
            m_committed.wait(lock, [&] { return m_nextCommit == first; });
            if (first < m_failedAt) {
                int copied = 0;
                try {
                    std::unique_lock<std::mutex> image(m_job.mosaicImageLock, std::defer_lock);
                    if (m_locked)
                        image.lock();
                    for (; copied < made; ++copied) {
                        const size_t left = size_t(first + copied) * size_t(m_s.cellWidth) * 3;
                        const TDIB& cell = cells[size_t(copied)];
                        for (int y = 0; y < m_s.cellHeight; ++y)
                            std::memcpy(m_target->RowPointer(m_top + y) + left, cell.ScanLine(y), cellRowBytes);
                    }
                } catch (...) {
                    failure = std::current_exception();
                }
                if (failure) {
                    m_failedAt = first + copied;
                    m_failure = failure;
                    m_stop = true;
                }
            }
            m_nextCommit = first + count;
            lock.unlock();
            m_committed.notify_all();
        }
    }

    // The cell's picture scaled, coloured and flipped, in cellRaster.
    void makeCell(int c, TDIB& cellRaster)
    {
        const int cell = m_row * m_s.cols + c;
        const CellPlacement p = m_job.placementGrid.at(c, m_row);
        const size_t k = m_cellFile[size_t(cell)];
        const size_t cellRowBytes = size_t(m_s.cellWidth) * 3;
        {
            const TDIB scaled = m_cache.acquire(k, cell);
            cellRaster.PrepareForDrawing();
            cellRaster.Allocate(m_s.cellWidth, m_s.cellHeight, 24);
            for (int y = 0; y < m_s.cellHeight; ++y)
                std::memcpy(cellRaster.RowPointer(y), scaled.ScanLine(y), cellRowBytes);
        }
        m_cache.done(k, cell);
        const Flips f = (*m_flips)[size_t(c)];
        finishCellPicture(cellRaster, m_s, p, f.upsideDown, f.mirrored);
    }

    MosaicJob& m_job;
    ScaledPictureCache& m_cache;
    const std::vector<uint32_t>& m_cellFile;
    const MosaicSettings m_s;
    const int m_threads;
    std::vector<std::vector<TDIB>> m_rasters;  // each thread's run of cells
    int m_run = 1;

    int m_row = 0;
    const std::vector<Flips>* m_flips = nullptr;
    TDIB* m_target = nullptr;
    int m_top = 0;
    bool m_locked = true;
    std::atomic<int> m_nextClaim{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_committed;
    int m_nextCommit = 0;
    int m_failedAt = 0;
    std::exception_ptr m_failure;
};

void drawCells(MosaicJob& job, Random& random, RenderHost& host, const RenderOptions& options)
{
    const MosaicSettings s = job.settings;
    const bool banded = bool(options.bandFinished);
    checkJob(job, banded);

    // One file number per distinct path, in the order the cells first use
    // them; every path is looked up here, once, on this thread.
    std::vector<ScaledPictureCache::File> files;
    std::vector<uint32_t> cellFile(size_t(s.rows) * size_t(s.cols));
    {
        std::unordered_map<int32_t, uint32_t> byIndex;
        std::unordered_map<std::string, uint32_t> byPath;
        auto fileFor = [&](const std::string& path, const std::string& lookupError) -> uint32_t {
            if (lookupError.empty()) {
                auto [it, added] = byPath.try_emplace(path, uint32_t(files.size()));
                if (!added)
                    return it->second;
            }
            files.push_back({path, lookupError, 0});
            return uint32_t(files.size() - 1);
        };
        int cell = 0;
        for (int r = 0; r < s.rows; ++r) {
            for (int c = 0; c < s.cols; ++c, ++cell) {
                uint32_t k;
                if (s.selfMosaic) {
                    if (files.empty()) {
                        const std::string source = host.sourcePath();
                        fileFor(source, source.empty() ? kNoSourceImage : "");
                    }
                    k = 0;
                } else {
                    const int32_t index = job.placementGrid.at(c, r).imageIndex;
                    auto found = byIndex.find(index);
                    if (found != byIndex.end()) {
                        k = found->second;
                    } else {
                        std::string path, lookupError;
                        try {
                            path = host.imagePath(index);
                        } catch (const std::exception& ex) {
                            lookupError = ex.what();
                        }
                        k = fileFor(path, lookupError);
                        byIndex.emplace(index, k);
                    }
                }
                cellFile[size_t(cell)] = k;
                files[k].lastUse = cell;
            }
        }
    }

    ScaledPictureCache cache(std::move(files), s.cellWidth, s.cellHeight, s.stretchCells, options);
    TDIB& cellRaster = job.cellRaster;
    cellRaster.PrepareForDrawing();
    cellRaster.Allocate(s.cellWidth, s.cellHeight, 24);

    int threads = options.drawThreads;
    if (threads <= 0)
        threads = int(std::max(1u, std::thread::hardware_concurrency()));
    RowDrawer drawer(job, cache, cellFile, threads);

    const int bandRows = banded ? std::clamp(options.bandRows, 1, s.rows) : s.rows;
    TDIB band;
    if (banded)
        band.Allocate(s.cols * s.cellWidth, bandRows * s.cellHeight, 24);
    TDIB& target = banded ? band : job.mosaicImage;

    std::vector<Flips> flips(size_t(s.cols));
    for (int r = 0; r < s.rows; ++r) {
        host.progress(s.rows > 1 ? r * 100 / (s.rows - 1) : 100);
        host.repaint();
        // every flip of the row is decided before any of its cells is drawn,
        // in cell order, as a one-cell-at-a-time render would draw them
        const uint32_t before = random.state();
        for (Flips& f : flips) {
            f.upsideDown = s.allowVFlip && random.next(9) > 4;
            f.mirrored = s.allowHFlip && random.next(9) > 4;
        }
        const int top = (banded ? r % bandRows : r) * s.cellHeight;
        const int failedAt = drawer.draw(r, flips, target, top, !banded);
        if (failedAt < s.cols) {
            // the generator stops where it would have: after the cells drawn
            random.setState(before);
            for (int c = 0; c < failedAt; ++c) {
                if (s.allowVFlip)
                    random.next(9);
                if (s.allowHFlip)
                    random.next(9);
            }
            std::rethrow_exception(drawer.failure());
        }
        host.rowsFinished(r * s.cellHeight, s.cellHeight);
        if (banded && (r % bandRows == bandRows - 1 || r == s.rows - 1))
            options.bandFinished(band, (r % bandRows + 1) * s.cellHeight);
    }
}

}  // namespace

TRect cellSourceRect(int width, int height, int cellWidth, int cellHeight, bool stretchCells)
{
    if (stretchCells)
        return TRect{0, 0, width, height};
    // 64-bit products: the same figures as 32-bit ones wherever those do not
    // overflow, and still right for very wide or tall pictures.
    const int64_t wide = int64_t(width) * cellHeight;
    const int64_t tall = int64_t(cellWidth) * height;
    if (wide < tall) {
        const int t = int((tall - wide) / (2 * int64_t(cellWidth)));
        return TRect{0, t, width, height - t};
    }
    if (wide > tall) {
        const int sides = int((wide - tall) / (2 * int64_t(cellHeight)));
        return TRect{sides, 0, width - sides, height};
    }
    return TRect{0, 0, width, height};
}

TDIB scaledCellPicture(const std::string& path, const MosaicSettings& settings)
{
    return loadScaledPicture(path, settings.cellWidth, settings.cellHeight, settings.stretchCells);
}

void finishCellPicture(TDIB& cell, const MosaicSettings& s, const CellPlacement& p, bool upsideDown, bool mirrored)
{
    if (!s.colorEnhanceOff) {
        const int red = negated(p.redOffset);
        if (s.sourceMono)
            adjustColours(cell, red, red, red, s.monoCells);
        else
            adjustColours(cell, red, negated(p.greenOffset), negated(p.blueOffset), s.monoCells);
    }
    if (upsideDown || mirrored)
        cell.Mirror(mirrored, upsideDown);
}

void renderMosaic(MosaicJob& job, Random& random, RenderHost& host, const RenderOptions& options)
{
    try {
        host.progress(0);
        drawCells(job, random, host, options);
    } catch (const std::bad_alloc&) {
        host.finished(false, "Out of memory while drawing the mosaic");
        return;
    } catch (const std::exception& ex) {
        host.finished(false, ex.what());
        return;
    } catch (...) {
        host.finished(false, "The mosaic could not be drawn");
        return;
    }
    host.repaint();
    host.progress(0);
    host.message("Photomosaic created success!", "Finish");
    host.finished(true, {});
}

pagethread::pagethread(MosaicJob& job, Random& random, RenderHost& host, RenderOptions options)
    : m_thread([this, &job, &random, &host, options] {
          // renderMosaic reports its own failures; a host that throws while
          // being told must not take the process down with this thread.
          try {
              renderMosaic(job, random, host, options);
          } catch (...) {
          }
          m_done = true;
      })
{
}

pagethread::~pagethread()
{
    wait();
}

void pagethread::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

}  // namespace tsx
