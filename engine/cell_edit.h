// Changing single cells of a placed mosaic: which cell lies under a point,
// which pictures a cell may show under the job's rules, placing some cells
// again around the ones the user keeps, and drawing just those cells.
#pragma once

#include <compare>
#include <functional>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/mosaic_job.h"
#include "engine/random.h"

namespace tsx {

struct CellRef {
    int col = 0, row = 0;
    // row by row from the top, as placement visits them
    auto operator<=>(const CellRef& o) const { return std::tie(row, col) <=> std::tie(o.row, o.col); }
    bool operator==(const CellRef&) const = default;
};

/// What the user has pinned down: cells that keep their picture, and
/// pictures that no unlocked cell may show.
struct CellMarks {
    std::set<CellRef> locked;
    std::set<int32_t> excluded;
    bool empty() const { return locked.empty() && excluded.empty(); }
    bool operator==(const CellMarks&) const = default;
};

struct CellColour {
    int red = 0, green = 0, blue = 0;
    bool operator==(const CellColour&) const = default;
};

/// The cell under pixel (x, y) of the mosaic, if the point lies on a cell.
std::optional<CellRef> cellAt(const MosaicSettings& settings, int x, int y);

/// The pictures an edit may put into cells: those with both a path and a
/// signature (a loaded project may bring fewer of one than of the other).
int editablePictureCount(const MosaicJob& job, size_t pathCount);

/// The colour of the cell, recovered from its record (the signature of its
/// picture minus the stored offset), so it needs no source picture: a loaded
/// project has none. Empty when the record names no picture with a signature.
std::optional<CellColour> cellColour(const MosaicJob& job, CellRef cell);

/// colourDistance between the cell and the picture's signature; -1 when
/// either is unknown.
int matchDistance(const MosaicJob& job, CellRef cell, int picture);

/// The record that shows picture in the cell: offsets are the signature
/// minus the cell's colour, as placement writes them.
CellPlacement placementFor(const MosaicJob& job, CellRef cell, const CellColour& colour, int picture);

/// Up to eight nearest pictures the cell may show as things stand (nearest
/// first, the lower index first among equals): not excluded, within the
/// repetition limit counting the cell's own picture as freed, and away from
/// a copy of itself in the six cells the neighbour rule pairs it with.
std::vector<int> cellCandidates(const MosaicJob& job, int pictureCount, const CellMarks& marks, CellRef cell);

/// The candidate after the cell's picture, going round; empty when the cell
/// has no other.
std::optional<int> nextCandidate(const MosaicJob& job, int pictureCount, const CellMarks& marks, CellRef cell);

struct CellChange {
    CellRef cell;
    CellPlacement before, after;
};

/// Places the given cells again (row by row from the top), as placement
/// does, around every other cell as it stands: the use-all pass for pictures
/// no other cell shows, then the randomize level, the repetition limit and
/// the neighbour rule; excluded pictures are never chosen. Locked cells among
/// them are left alone. Returns the cells whose record changes; the job is
/// not touched. Draws from random only when the randomize level asks for it.
std::vector<CellChange> replaceCells(const MosaicJob& job, int pictureCount, const CellMarks& marks,
                                     const std::vector<CellRef>& cells, Random& random);

/// Moves the use counts in a copy of the working signatures from the old
/// pictures of the changed cells to the new ones.
std::vector<uint8_t> signaturesAfter(const std::vector<uint8_t>& signatures, const std::vector<CellChange>& changes);

/// The cell's pixels as they stand in the mosaic (the caller holds its lock).
TDIB copyCellPixels(const MosaicJob& job, CellRef cell);
/// Writes a cell's pixels into the mosaic (the caller holds its lock).
void putCellPixels(MosaicJob& job, CellRef cell, const TDIB& pixels);

/// The flips a render would choose for a cell: the same draws, in the same
/// order, only for the flips the job allows.
struct CellFlips {
    bool upsideDown = false, mirrored = false;
};
CellFlips drawFlips(const MosaicSettings& settings, Random& random);

/// The changed cells drawn again, each as a whole render draws it.
struct RedrawnCells {
    std::vector<CellChange> changes;  // those that could be drawn
    std::vector<TDIB> pixels;         // parallel to changes
    /// One line per cell whose picture could not be made: its column, row
    /// and what failed (naming the file). Those cells are left out above.
    std::vector<std::string> failures;
};
/// progress, when given, hears how many of the cells are drawn, now and then.
RedrawnCells redrawCells(const MosaicJob& job, Random& random, const std::vector<std::string>& paths,
                         std::vector<CellChange> changes,
                         const std::function<void(size_t done, size_t total)>& progress = {});

}  // namespace tsx
