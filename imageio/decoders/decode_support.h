// Helpers shared by the decoder classes: size checks made before anything is
// allocated, palettes, and the colour conversions of TIFF and Photoshop.
#pragma once

#include <cstdint>

#include "raster/dib.h"

namespace tsx::decode {

/// Raises a plain error with the message.
[[noreturn]] void fail(const char* message);

/// Raises message unless both sides are positive and the picture stays
/// within kMaxPicturePixels; all in 64-bit arithmetic.
void checkDimensions(int64_t width, int64_t height, const char* message);

/// Raises message when unpackedBytes cannot come from packedBytes even at
/// the best ratio the format's compression reaches.
void checkExpansion(int64_t unpackedBytes, int64_t packedBytes, int64_t maxRatio, const char* message);

/// The most bytes an LZW stream of packedBytes can expand to: every code
/// adds at most one byte to the longest string so far, and none is longer
/// than the table.
int64_t lzwMaxOutput(int64_t packedBytes, int startCodeWidth);

/// Bytes of one stored row of width pixels at bitsPerPixel, rounded up to bytes.
int64_t packedRowBytes(int64_t width, int64_t bitsPerPixel);

/// A grey ramp over the 2^bitCount entries of a palette, black first
/// unless whiteFirst; the unused entries become black.
void setGreyRamp(TColorTable& table, int bitCount, bool whiteFirst = false);

/// The sixteen colours of the platform's standard palette.
void setStandardPalette16(TColorTable& table);

inline uint8_t clampByte(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

/// Ink values (0 = no ink) to blue, green, red.
void cmykToBgr(int c, int m, int y, int k, uint8_t* bgr);
void cmyk16ToBgr(int c, int m, int y, int k, uint8_t* bgr);
/// CIE L*a*b* (L as 0..255, a and b signed) to blue, green, red.
void labToBgr(uint8_t lightness, int a, int b, uint8_t* bgr);

}  // namespace tsx::decode
