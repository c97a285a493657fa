// Area-average reduction of a large 24-bit raster, band by band: the same
// bytes as stretchAreaAverage of the whole raster onto the whole target,
// computed for some target rows only and reading the source through row
// pointers, so a raster another thread is drawing can be reduced without
// copying it. The overview of a 20480 x 20480 mosaic is made this way.
#pragma once

#include <cstdint>
#include <functional>

#include "raster/dib.h"

namespace tsx {

/// Whether reduceAreaAverageRows handles a source of srcWidth x srcHeight
/// onto a target of dstWidth x dstHeight: a reduction on both axes.
bool canReduceAreaAverage(int srcWidth, int srcHeight, int dstWidth, int dstHeight);

/// Target rows [firstRow, endRow) of the area average of the whole source
/// (srcWidth x srcHeight, row y read through sourceRow(y), three bytes blue,
/// green, red per pixel) onto the whole of dst (24 bits). Only the source
/// rows those target rows cover are read. Requires canReduceAreaAverage.
void reduceAreaAverageRows(int srcWidth, int srcHeight, const std::function<const uint8_t*(int)>& sourceRow,
                           TDIB& dst, int firstRow, int endRow);

/// The source rows [first, end) that target rows [firstRow, endRow) cover.
void coveredSourceRows(int srcHeight, int dstHeight, int firstRow, int endRow, int& first, int& end);

}  // namespace tsx
