// Area-average reduction of a large 24-bit raster, fed row by row: the same
// bytes as stretchAreaAverage of the whole raster onto the whole target, but
// reading the source through row pointers, in order, as its rows become
// available. The overview of a 20480 x 20480 mosaic is made this way, from
// the rows a render has just drawn while they are still in the cache.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "raster/dib.h"

namespace tsx {

/// Whether a source of srcWidth x srcHeight can be reduced onto a target of
/// dstWidth x dstHeight this way: a reduction on both axes.
bool canReduceAreaAverage(int srcWidth, int srcHeight, int dstWidth, int dstHeight);

/// The source rows [first, end) that target rows [firstRow, endRow) cover.
void coveredSourceRows(int srcHeight, int dstHeight, int firstRow, int endRow, int& first, int& end);

/// Reduces source rows fed from the top into the rows of a target raster;
/// a target row is written once the last source row it covers was fed.
/// Not thread-safe; the target must outlive the reduction.
class AreaReducer {
public:
    /// Starts at target row firstRow of dst (24 bits); false, and inactive,
    /// when canReduceAreaAverage does not hold.
    bool start(int srcWidth, int srcHeight, TDIB& dst, int firstRow);
    void stop() { m_dst = nullptr; }
    bool active() const { return m_dst != nullptr; }
    bool reduces(int srcWidth, int srcHeight, const TDIB& dst) const;
    /// The source row to feed next (srcHeight when done).
    int nextSourceRow() const { return m_nextSource; }
    /// Target rows written so far end here.
    int completedRows() const { return m_row; }
    /// Feeds source row nextSourceRow(): srcWidth pixels of blue, green, red.
    void feed(const uint8_t* row);
    /// Feeds the rows up to endSource (exclusive), row y read through sourceRow(y).
    void feedUpTo(int endSource, const std::function<const uint8_t*(int)>& sourceRow);

private:
    struct Span {
        int first = 0, last = 0;  // source pixels, inclusive
        uint32_t firstWeight = 0, lastWeight = 0;
    };
    Span span(int64_t a, int64_t b, int64_t i) const;
    void finishRow();

    TDIB* m_dst = nullptr;
    int m_srcWidth = 0, m_srcHeight = 0;
    int64_t m_ax = 1, m_bx = 1, m_ay = 1, m_by = 1;
    std::vector<Span> m_columns;
    int m_row = 0;         // the target row being summed
    Span m_rows;           // its source rows
    int m_nextSource = 0;
    int m_pending = 0;     // rows in m_inner16 not yet carried
    std::vector<uint16_t> m_inner16;
    std::vector<uint32_t> m_inner, m_edges, m_nextEdges, m_columnSums;
};

/// Target rows [firstRow, endRow) of the area average of the whole source
/// (srcWidth x srcHeight, row y read through sourceRow(y)) onto the whole of
/// dst. Only the source rows those target rows cover are read. Requires
/// canReduceAreaAverage.
void reduceAreaAverageRows(int srcWidth, int srcHeight, const std::function<const uint8_t*(int)>& sourceRow,
                           TDIB& dst, int firstRow, int endRow);

}  // namespace tsx
