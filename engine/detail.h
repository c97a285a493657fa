// Detail matching: a picture and a cell are compared by an N × N grid of
// area-averaged colours each, in CIELAB, instead of one mean colour against
// one sampled pixel. Edges and small shapes of the source then find pictures
// that carry them. Off (grid 0) unless chosen; placement is then untouched.
#pragma once

#include <cstdint>
#include <vector>

#include "raster/dib.h"

namespace tsx {

struct MosaicJob;
class Random;

inline constexpr int kDetailGridMin = 2;
inline constexpr int kDetailGridMax = 4;
inline constexpr int kDetailGridDefault = 3;

struct Lab {
    float L = 0, a = 0, b = 0;
};

/// CIELAB (D65) of an sRGB colour given as 0..255 values.
Lab labFromRgb(double red, double green, double blue);

/// A rectangle in pixel coordinates that may end within a pixel.
struct AreaRect {
    double left = 0, top = 0, right = 0, bottom = 0;
};

/// The exact area averages of an n × n grid laid over area of a 24-bit
/// raster: every pixel counts with the part of it that lies in a grid cell.
/// Red, green, blue per grid cell, row by row from the top (n × n × 3).
std::vector<double> gridAverages(const TDIB& raster, const AreaRect& area, int n);

/// The detail signatures of an ImageList: per picture, n × n Lab colours.
struct DetailSignatures {
    int grid = 0;
    std::vector<Lab> colours;  // picture i's grid at i × grid²
    size_t count() const { return grid > 0 ? colours.size() / size_t(grid * grid) : 0; }
    bool operator==(const DetailSignatures&) const = default;
};

/// Appends the detail signature of one picture (a 24-bit raster; empty
/// gives black) as it fills a cell of cellWidth × cellHeight: the whole
/// picture when stretching, else its centred crop.
void appendDetailSignature(DetailSignatures& out, const TDIB& picture, int cellWidth, int cellHeight,
                           bool stretchCells);

/// The cells' detail colours: the n × n grid of each cell's part of the
/// source after the source colour adjustments (cells row by row), and each
/// cell's mean colour (blue, green, red bytes as in cellColourRaster), which
/// the colour shift of a detail placement aims at.
struct CellDetail {
    int grid = 0, rows = 0, cols = 0;
    std::vector<Lab> colours;      // cell (c, r) at (r × cols + c) × grid²
    std::vector<uint8_t> meanBgr;  // 3 bytes per cell
};
CellDetail computeCellDetail(const TDIB& source, int rows, int cols, int grid, int redAdjust, int greenAdjust,
                             int blueAdjust, bool mono);

/// The detail distance of picture i to cell k: the sum over the grid of the
/// lightness-weighted Lab distances.
float detailDistance(const DetailSignatures& pictures, size_t i, const CellDetail& cells, size_t k);

/// Places imageCount pictures into the cells under the job's rules (the
/// repetition limit, the neighbour rule, the use-all pass, the randomize
/// level), on the detail distance. Called by placement when the job has a
/// detail grid; the candidate list then ranks by (distance, index).
void placeCellsByDetail(MosaicJob& job, Random& random, int imageCount, const DetailSignatures& pictures,
                        const CellDetail& cells);

}  // namespace tsx
