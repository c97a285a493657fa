// The size of the overview: the mosaic fitted into the window's area,
// keeping its aspect.
#pragma once

namespace tsx {

/// Size of the overview raster for a mosaic view of mosaicWidth x
/// mosaicHeight in an area of areaWidth x areaHeight; false when any of the
/// four is below 1.
bool fitOverview(int areaWidth, int areaHeight, int mosaicWidth, int mosaicHeight, int& width, int& height);

}  // namespace tsx
