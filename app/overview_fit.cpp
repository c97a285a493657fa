#include "app/overview_fit.h"

#include <cstdint>

namespace tsx {

bool fitOverview(int areaWidth, int areaHeight, int mosaicWidth, int mosaicHeight, int& width, int& height)
{
    if (areaWidth < 1 || areaHeight < 1 || mosaicWidth < 1 || mosaicHeight < 1)
        return false;
    // 64-bit products: a 512000-pixel-wide mosaic in a tall window would
    // overflow 32 bits; below that the results are the same
    const int64_t Wo = areaWidth, Ho = areaHeight, Wm = mosaicWidth, Hm = mosaicHeight;
    if (Hm * Wo < Ho * Wm) {
        width = int(Wo);
        height = int(Hm * Wo / Wm);
    } else {
        height = int(Ho);
        width = int(Ho * Wm / Hm);
    }
    return true;
}

}  // namespace tsx
