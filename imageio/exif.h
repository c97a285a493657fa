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

/// Turns a 24-bit raster from its stored orientation to the upright one.
/// Orientation 1 (and any other raster) is returned unchanged, sharing its
/// storage; 5 to 8 swap width and height.
TDIB orientRaster(const TDIB& stored, int orientation);

}  // namespace tsx
