// Which colours the ImageList lacks: the cells its pictures serve worst,
// grouped by colour, so a user knows what photos to add.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/mosaic_job.h"

namespace tsx {

struct ColourGap {
    uint8_t red = 0, green = 0, blue = 0;  // the group's mean cell colour
    int cells = 0;     // badly served cells in the group
    int improves = 0;  // of them, the cells a picture of this colour would serve better
};

/// Cells whose match distance is at least this are badly served.
inline constexpr int kBadlyServedDistance = 60;

/// The groups of badly served cells (distance at least kBadlyServedDistance,
/// and in the worst tenth of the placed cells), most improved first, at most
/// maxGroups. A cell's colour is its picture's signature minus its offsets.
std::vector<ColourGap> missingColours(const MosaicSettings& settings, const PlacementGrid& grid,
                                      const std::vector<uint8_t>& workingSignatures, size_t maxGroups = 8);

}  // namespace tsx
