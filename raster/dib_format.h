// Reading the header block and pixel rows of a BMP file, shared by the
// raster's own stored form and the picture loader's BMP reader, which differ
// only in what they accept and in the words of their error.
#pragma once

#include <cstdint>

#include "raster/byte_io.h"
#include "raster/dib.h"

namespace tsx {

struct DibReadRules {
    // The picture loader's reader: any header size of 12 or at least 16
    // bytes, masks inside long headers, "Bitmap image is not valid". The
    // raster's own reader takes 12- and 40-byte headers only, "DIB is invalid".
    bool bitmapReader = false;
    // No decoded raster may exceed this many pixels.
    int64_t maxPixels = int64_t(1) << 28;
};

/// Reads a header block, masks, colour table and pixel rows at the reader's
/// position into out; on failure out is unchanged.
void readDibBody(ByteReader& r, TDIB& out, const DibReadRules& rules);

/// The header block of a raster as WriteBmp writes it.
std::vector<uint8_t> dibHeaderBlock(const TDIB& dib);

/// One row of pixels of any bit count as 24-bit blue, green, red: palette
/// indices through the table, 16 and 32 bits through the masks.
void decodeRowTo24(const uint8_t* src, int width, int bitCount, const TColorTable& table,
                   const TPixelFormat& pf, uint8_t* dst);

/// Widens a channel of n bits (1..32) to 8 bits: bits repeated below
/// themselves when n < 8, the high byte when n > 8.
uint8_t widenChannel(uint32_t value, int bits);

}  // namespace tsx
