// Rasters the tests of both kinds start from.
#pragma once

#include <random>

#include "raster/dib.h"

namespace tsx::test {

/// A 24-bit raster of random bytes, the same for the same seed.
inline TDIB noise(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    TDIB dib;
    dib.Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = dib.RowPointer(y);
        for (int x = 0; x < width * 3; ++x)
            p[x] = uint8_t(random());
    }
    return dib;
}

}  // namespace tsx::test
