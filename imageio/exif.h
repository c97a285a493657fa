// Camera orientation: the Exif tag that says how a stored picture must be
// turned to be seen upright, and the turn itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "raster/dib.h"

namespace tsx {

/// The orientation (1 to 8) recorded in IFD0 of a TIFF-structured block: an
/// Exif block (with or without its "Exif\0\0" prefix) or a whole TIFF file.
/// Anything unreadable, out of range or absent gives 1 (as stored). Only
/// IFD0 is read, so no chain of offsets can make it loop.
int exifOrientation(std::span<const uint8_t> block);

/// Where pixel (x, y) of the upright picture lies in the stored one, for a
/// stored picture of storedWidth × storedHeight.
inline void storedPoint(int orientation, int storedWidth, int storedHeight, int x, int y, int& sx, int& sy)
{
    const int w = storedWidth, h = storedHeight;
    switch (orientation) {
    case 2: sx = w - 1 - x; sy = y; break;
    case 3: sx = w - 1 - x; sy = h - 1 - y; break;
    case 4: sx = x; sy = h - 1 - y; break;
    case 5: sx = y; sy = x; break;
    case 6: sx = y; sy = h - 1 - x; break;
    case 7: sx = w - 1 - y; sy = h - 1 - x; break;
    case 8: sx = w - 1 - y; sy = x; break;
    default: sx = x; sy = y; break;
    }
}

/// Turns a 24-bit raster from its stored orientation to the upright one.
/// Orientation 1 (and any other raster) is returned unchanged, sharing its
/// storage; 5 to 8 swap width and height.
TDIB orientRaster(const TDIB& stored, int orientation);

}  // namespace tsx
