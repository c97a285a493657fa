#include "engine/cell_edit.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <unordered_map>
#include <utility>

#include "engine/render.h"
#include "raster/errors.h"

namespace tsx {

namespace {

constexpr size_t kMostCandidates = 8;
// Scaled pictures kept while one edit draws its cells; past this, a picture
// that several changed cells share is decoded again for each.
constexpr size_t kRedrawCacheBytes = size_t(256) << 20;

bool inGrid(const MosaicSettings& s, int c, int r) { return c >= 0 && r >= 0 && c < s.cols && r < s.rows; }

// The six cells whose picture the neighbour rule keeps apart from this
// one's: the three placement looks back at, and the three that look back at
// this cell.
constexpr int kRuleNeighbours[6][2] = { { -1, 0 }, { 0, -1 }, { -1, -1 }, { 1, 0 }, { 0, 1 }, { 1, 1 } };

std::string withPath(const std::string& text, const std::string& path)
{
    return path.empty() || text.find(path) != std::string::npos ? text : text + " (" + path + ")";
}

// Nearest first, the lower index first among equals.
std::vector<int> nearestOf(std::vector<std::pair<int, int>> scored, size_t most)
{
    const size_t keep = std::min(most, scored.size());
    std::partial_sort(scored.begin(), scored.begin() + ptrdiff_t(keep), scored.end());
    std::vector<int> out;
    for (size_t k = 0; k < keep; ++k)
        out.push_back(scored[k].second);
    return out;
}

}  // namespace

std::optional<CellRef> cellAt(const MosaicSettings& s, int x, int y)
{
    if (s.cellWidth <= 0 || s.cellHeight <= 0 || x < 0 || y < 0)
        return std::nullopt;
    const CellRef cell{ x / s.cellWidth, y / s.cellHeight };
    if (!inGrid(s, cell.col, cell.row))
        return std::nullopt;
    return cell;
}

int editablePictureCount(const MosaicJob& job, size_t pathCount)
{
    return int(std::min({ pathCount, signatureCount(job.workingSignatures), size_t(INT32_MAX) }));
}

std::optional<CellColour> cellColour(const MosaicJob& job, CellRef cell)
{
    const MosaicSettings& s = job.settings;
    if (!inGrid(s, cell.col, cell.row) || s.selfMosaic)
        return std::nullopt;
    const CellPlacement& p = job.placementGrid.at(cell.col, cell.row);
    if (p.imageIndex < 0 || size_t(p.imageIndex) >= signatureCount(job.workingSignatures))
        return std::nullopt;
    const CellSignature sig = signatureAt(job.workingSignatures, size_t(p.imageIndex));
    // 64-bit: a damaged record may hold any offset
    auto back = [](int sigByte, int32_t offset) { return clampByte(int(std::clamp<int64_t>(int64_t(sigByte) - offset, -1, 256))); };
    return CellColour{ back(sig.red, p.redOffset), back(sig.green, p.greenOffset), back(sig.blue, p.blueOffset) };
}

int matchDistance(const MosaicJob& job, CellRef cell, int picture)
{
    const std::optional<CellColour> colour = cellColour(job, cell);
    if (!colour || picture < 0 || size_t(picture) >= signatureCount(job.workingSignatures))
        return -1;
    const CellSignature sig = signatureAt(job.workingSignatures, size_t(picture));
    return colourDistance(colour->red, colour->green, colour->blue, sig.red, sig.green, sig.blue);
}

CellPlacement placementFor(const MosaicJob& job, CellRef, const CellColour& colour, int picture)
{
    const CellSignature sig = signatureAt(job.workingSignatures, size_t(picture));
    return CellPlacement{ picture, sig.red - colour.red, sig.green - colour.green, sig.blue - colour.blue, 1 };
}

std::vector<int> cellCandidates(const MosaicJob& job, int pictureCount, const CellMarks& marks, CellRef cell)
{
    const MosaicSettings& s = job.settings;
    const std::optional<CellColour> colour = cellColour(job, cell);
    if (!colour)
        return {};
    const int current = job.placementGrid.at(cell.col, cell.row).imageIndex;
    std::vector<int> nearby;
    if (s.noClose)
        for (const auto& [dc, dr] : kRuleNeighbours)
            if (inGrid(s, cell.col + dc, cell.row + dr))
                nearby.push_back(job.placementGrid.at(cell.col + dc, cell.row + dr).imageIndex);
    std::vector<std::pair<int, int>> scored;
    for (int i = 0; i < pictureCount; ++i) {
        if (marks.excluded.count(i) || std::find(nearby.begin(), nearby.end(), i) != nearby.end())
            continue;
        const CellSignature sig = signatureAt(job.workingSignatures, size_t(i));
        if (s.limitRepeat && int64_t(sig.useCount) - (i == current ? 1 : 0) + 1 > s.maxRepeat)
            continue;
        scored.emplace_back(colourDistance(colour->red, colour->green, colour->blue, sig.red, sig.green, sig.blue), i);
    }
    return nearestOf(std::move(scored), kMostCandidates);
}

std::optional<int> nextCandidate(const MosaicJob& job, int pictureCount, const CellMarks& marks, CellRef cell)
{
    const std::vector<int> candidates = cellCandidates(job, pictureCount, marks, cell);
    if (candidates.empty())
        return std::nullopt;
    const int current = job.placementGrid.at(cell.col, cell.row).imageIndex;
    const auto at = std::find(candidates.begin(), candidates.end(), current);
    if (at == candidates.end())
        return candidates.front();
    if (candidates.size() == 1)
        return std::nullopt;
    return candidates[size_t(at - candidates.begin() + 1) % candidates.size()];
}

std::vector<CellChange> replaceCells(const MosaicJob& job, int pictureCount, const CellMarks& marks,
                                     const std::vector<CellRef>& cells, Random& random)
{
    const MosaicSettings& s = job.settings;
    if (s.selfMosaic || pictureCount <= 0)
        return {};
    std::vector<CellRef> targets;
    std::vector<CellColour> colours;
    {
        std::vector<CellRef> sorted(cells);
        std::sort(sorted.begin(), sorted.end());
        sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        for (const CellRef& cell : sorted) {
            if (!inGrid(s, cell.col, cell.row) || marks.locked.count(cell))
                continue;
            if (const std::optional<CellColour> colour = cellColour(job, cell)) {
                targets.push_back(cell);
                colours.push_back(*colour);
            }
        }
    }
    if (targets.empty())
        return {};

    const size_t cols = size_t(s.cols);
    auto slot = [&](int c, int r) { return size_t(r) * cols + size_t(c); };
    std::vector<int32_t> shown(size_t(s.rows) * cols);
    for (int r = 0; r < s.rows; ++r)
        for (int c = 0; c < s.cols; ++c)
            shown[slot(c, r)] = job.placementGrid.at(c, r).imageIndex;
    // Cells still to be placed: the rule does not look at them yet, as
    // placement does not look at the cells after the one it places.
    std::vector<uint8_t> pending(shown.size(), 0);
    std::vector<int64_t> uses(static_cast<size_t>(pictureCount));
    for (int i = 0; i < pictureCount; ++i)
        uses[size_t(i)] = signatureAt(job.workingSignatures, size_t(i)).useCount;
    for (const CellRef& cell : targets) {
        pending[slot(cell.col, cell.row)] = 1;
        const int32_t old = shown[slot(cell.col, cell.row)];
        if (old >= 0 && old < pictureCount)
            --uses[size_t(old)];
    }
    std::vector<CellPlacement> after(targets.size());
    auto place = [&](size_t t, int picture) {
        after[t] = placementFor(job, targets[t], colours[t], picture);
        shown[slot(targets[t].col, targets[t].row)] = picture;
        pending[slot(targets[t].col, targets[t].row)] = 0;
        ++uses[size_t(picture)];
    };
    for (size_t t = 0; t < targets.size(); ++t)
        after[t] = job.placementGrid.at(targets[t].col, targets[t].row);

    if (s.useAll) {
        // every picture that no other cell shows gets the free cell nearest
        // to it, the first in row order among equals
        std::vector<uint8_t> elsewhere(size_t(pictureCount), 0);
        for (size_t k = 0; k < shown.size(); ++k)
            if (!pending[k] && shown[k] >= 0 && shown[k] < pictureCount)
                elsewhere[size_t(shown[k])] = 1;
        for (int i = 0; i < pictureCount; ++i) {
            if (elsewhere[size_t(i)] || marks.excluded.count(i))
                continue;
            const CellSignature sig = signatureAt(job.workingSignatures, size_t(i));
            int best = 999;
            size_t bestTarget = targets.size();
            for (size_t t = 0; t < targets.size(); ++t) {
                if (!pending[slot(targets[t].col, targets[t].row)])
                    continue;
                const int d = colourDistance(colours[t].red, colours[t].green, colours[t].blue, sig.red, sig.green, sig.blue);
                if (d < best) {
                    best = d;
                    bestTarget = t;
                }
            }
            if (bestTarget < targets.size())
                place(bestTarget, i);
        }
    }

    const int draws = s.randomLevel > 1 ? s.randomLevel - 1 : 0;
    for (size_t t = 0; t < targets.size(); ++t) {
        const CellRef cell = targets[t];
        if (!pending[slot(cell.col, cell.row)])
            continue;
        std::vector<int32_t> nearby;
        if (s.noClose)
            for (const auto& [dc, dr] : kRuleNeighbours) {
                const int c = cell.col + dc, r = cell.row + dr;
                if (inGrid(s, c, r) && !pending[slot(c, r)])
                    nearby.push_back(shown[slot(c, r)]);
            }
        // as placement does: past the repetition limit before giving up the
        // neighbour rule, and never an excluded picture
        std::vector<std::pair<int, int>> scored;
        for (int pass = 0; pass < 3 && scored.empty(); ++pass) {
            for (int i = 0; i < pictureCount; ++i) {
                if (marks.excluded.count(i))
                    continue;
                if (pass == 0 && s.limitRepeat && uses[size_t(i)] + 1 > s.maxRepeat)
                    continue;
                if (pass < 2 && std::find(nearby.begin(), nearby.end(), i) != nearby.end())
                    continue;
                const CellSignature sig = signatureAt(job.workingSignatures, size_t(i));
                scored.emplace_back(
                    colourDistance(colours[t].red, colours[t].green, colours[t].blue, sig.red, sig.green, sig.blue), i);
            }
        }
        if (scored.empty()) {
            // every picture is excluded: the cell keeps what it shows
            pending[slot(cell.col, cell.row)] = 0;
            continue;
        }
        const std::vector<int> nearest = nearestOf(std::move(scored), kMostCandidates);
        const int j = random.next(std::min(draws, int(nearest.size())));
        place(t, nearest[size_t(j)]);
    }

    std::vector<CellChange> changes;
    for (size_t t = 0; t < targets.size(); ++t) {
        const CellPlacement& before = job.placementGrid.at(targets[t].col, targets[t].row);
        if (!(after[t] == before))
            changes.push_back(CellChange{ targets[t], before, after[t] });
    }
    return changes;
}

std::vector<uint8_t> signaturesAfter(const std::vector<uint8_t>& signatures, const std::vector<CellChange>& changes)
{
    std::vector<uint8_t> out = signatures;
    const size_t n = signatureCount(out);
    auto add = [&](int32_t index, int delta) {
        if (index < 0 || size_t(index) >= n)
            return;
        CellSignature sig = signatureAt(out, size_t(index));
        sig.useCount = int32_t(uint32_t(sig.useCount) + uint32_t(delta));
        setSignatureAt(out, size_t(index), sig);
    };
    for (const CellChange& change : changes) {
        if (change.before.imageIndex == change.after.imageIndex)
            continue;
        add(change.before.imageIndex, -1);
        add(change.after.imageIndex, 1);
    }
    return out;
}

TDIB copyCellPixels(const MosaicJob& job, CellRef cell)
{
    const MosaicSettings& s = job.settings;
    const TDIB& mosaic = job.mosaicImage;
    if (!inGrid(s, cell.col, cell.row) || mosaic.BitCount() != 24 ||
        int64_t(mosaic.Width()) < int64_t(s.cols) * s.cellWidth || int64_t(mosaic.Height()) < int64_t(s.rows) * s.cellHeight)
        throw EInvalidGraphicOperation(formatMessage("The mosaic image has no cell (%d, %d)", cell.col, cell.row));
    TDIB pixels;
    pixels.Allocate(s.cellWidth, s.cellHeight, 24);
    const size_t left = size_t(cell.col) * size_t(s.cellWidth) * 3;
    for (int y = 0; y < s.cellHeight; ++y)
        std::memcpy(pixels.RowPointer(y), mosaic.ScanLine(cell.row * s.cellHeight + y) + left, size_t(s.cellWidth) * 3);
    return pixels;
}

void putCellPixels(MosaicJob& job, CellRef cell, const TDIB& pixels)
{
    const MosaicSettings& s = job.settings;
    TDIB& mosaic = job.mosaicImage;
    if (!inGrid(s, cell.col, cell.row) || pixels.Width() != s.cellWidth || pixels.Height() != s.cellHeight ||
        pixels.BitCount() != 24 || mosaic.BitCount() != 24 ||
        int64_t(mosaic.Width()) < int64_t(s.cols) * s.cellWidth || int64_t(mosaic.Height()) < int64_t(s.rows) * s.cellHeight)
        throw EInvalidGraphicOperation(formatMessage("The mosaic image has no cell (%d, %d)", cell.col, cell.row));
    const size_t left = size_t(cell.col) * size_t(s.cellWidth) * 3;
    for (int y = 0; y < s.cellHeight; ++y)
        std::memcpy(mosaic.RowPointer(cell.row * s.cellHeight + y) + left, pixels.ScanLine(y), size_t(s.cellWidth) * 3);
}

CellFlips drawFlips(const MosaicSettings& s, Random& random)
{
    CellFlips flips;
    flips.upsideDown = s.allowVFlip && random.next(9) > 4;
    flips.mirrored = s.allowHFlip && random.next(9) > 4;
    return flips;
}

RedrawnCells redrawCells(const MosaicJob& job, Random& random, const std::vector<std::string>& paths,
                         std::vector<CellChange> changes, const std::function<void(size_t, size_t)>& progress)
{
    const MosaicSettings& s = job.settings;
    const size_t entryBytes = size_t(TDIB::widthBytesFor(s.cellWidth, 24)) * size_t(std::max(s.cellHeight, 0));
    struct Scaled {
        TDIB pixels;
        std::string error;
    };
    std::unordered_map<std::string, Scaled> cache;
    size_t cachedBytes = 0;
    RedrawnCells out;
    const size_t step = std::max<size_t>(1, changes.size() / 100);
    for (size_t done = 0; done < changes.size(); ++done) {
        CellChange& change = changes[done];
        if (progress && done % step == 0)
            progress(done, changes.size());
        const CellFlips flips = drawFlips(s, random);
        const int32_t index = change.after.imageIndex;
        std::string path;
        Scaled made;
        if (index < 0 || size_t(index) >= paths.size()) {
            made.error = formatMessage(msg::kListIndex, index);
        } else {
            path = paths[size_t(index)];
            if (const auto found = cache.find(path); found != cache.end()) {
                made = found->second;
            } else {
                try {
                    made.pixels = scaledCellPicture(path, s);
                } catch (const std::exception& ex) {
                    made.error = withPath(ex.what(), path);
                }
                if (cachedBytes + entryBytes <= kRedrawCacheBytes) {
                    cache.emplace(path, made);
                    cachedBytes += entryBytes;
                }
            }
        }
        if (!made.error.empty()) {
            out.failures.push_back(formatMessage("Cell %d, %d: ", change.cell.col, change.cell.row) + made.error);
            continue;
        }
        // the cache shares its pixels; this cell gets its own
        TDIB cell;
        cell.Allocate(s.cellWidth, s.cellHeight, 24);
        for (int y = 0; y < s.cellHeight; ++y)
            std::memcpy(cell.RowPointer(y), made.pixels.ScanLine(y), size_t(s.cellWidth) * 3);
        finishCellPicture(cell, s, change.after, flips.upsideDown, flips.mirrored);
        out.changes.push_back(change);
        out.pixels.push_back(std::move(cell));
    }
    return out;
}

}  // namespace tsx
