// Whole-raster effects. Both reach the pixels through RowPointer, so a raster
// that shares its pixels with another gets its own copy first.
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "raster/dib.h"
#include "raster/dib_format.h"
#include "raster/errors.h"

namespace tsx {
namespace {

struct GreyTables {
    std::array<uint8_t, 256> red, green, blue;
};

// Each channel's share is truncated on its own, so white becomes 253 and the
// darkest greys lose a level; rasters already made this way rely on it.
GreyTables greyTables()
{
    GreyTables t;
    for (int i = 0; i < 256; ++i) {
        t.red[size_t(i)] = uint8_t(i * 3588 / 10000);
        t.green[size_t(i)] = uint8_t(i * 402 / 1000);
        t.blue[size_t(i)] = uint8_t(i * 2392 / 10000);
    }
    return t;
}

// Pixel access for rasters of any bit count: whole bytes, or a nibble or a
// bit counted from the most significant end.
uint32_t pixelAt(const uint8_t* row, int x, int bitCount)
{
    switch (bitCount) {
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
        return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    default: {
        const int n = bitCount / 8;
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= uint32_t(row[x * n + i]) << (8 * i);
        return v;
    }
    }
}

void setPixelAt(uint8_t* row, int x, int bitCount, uint32_t v)
{
    switch (bitCount) {
    case 1: {
        const uint8_t bit = uint8_t(0x80 >> (x & 7));
        row[x >> 3] = v ? uint8_t(row[x >> 3] | bit) : uint8_t(row[x >> 3] & ~bit);
        break;
    }
    case 4: {
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? uint8_t((b & 0xF0) | (v & 0x0F)) : uint8_t((b & 0x0F) | (v & 0x0F) << 4);
        break;
    }
    default: {
        const int n = bitCount / 8;
        for (int i = 0; i < n; ++i)
            row[x * n + i] = uint8_t(v >> (8 * i));
    }
    }
}

void swapPixels(uint8_t* rowA, int xa, uint8_t* rowB, int xb, int bitCount)
{
    if (bitCount == 24) {
        uint8_t* a = rowA + 3 * xa;
        uint8_t* b = rowB + 3 * xb;
        std::swap(a[0], b[0]);
        std::swap(a[1], b[1]);
        std::swap(a[2], b[2]);
        return;
    }
    const uint32_t va = pixelAt(rowA, xa, bitCount);
    setPixelAt(rowA, xa, bitCount, pixelAt(rowB, xb, bitCount));
    setPixelAt(rowB, xb, bitCount, va);
}

void reverseRow(uint8_t* row, int width, int bitCount)
{
    for (int j = 0; j < width / 2; ++j)
        swapPixels(row, j, row, width - 1 - j, bitCount);
}

}  // namespace

void TDIB::Greyscale(int bitCount)
{
    if (IsEmpty())
        return;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
        throw EInvalidGraphicOperation(formatMessage(msg::kBitCountInvalid, bitCount));
    // the source keeps the old pixels: the first row written below unshares
    const TDIB source(*this);
    const int w = Width(), h = Height();
    const GreyTables t = greyTables();
    if (bitCount == 24 && source.BitCount() == 24) {
        Allocate(w, h, 24);
        for (int y = 0; y < h; ++y) {
            const uint8_t* in = source.ScanLine(y);
            uint8_t* out = RowPointer(y);
            for (int x = 0; x < w; ++x) {
                const uint8_t grey = uint8_t(t.red[in[2]] + t.green[in[1]] + t.blue[in[0]]);
                out[0] = out[1] = out[2] = grey;
                in += 3;
                out += 3;
            }
        }
        return;
    }
    // Other bit counts: grey through 24 bits, then packed into the target,
    // palette targets with a grey ramp so every grey has its own entry.
    TDIB grey;
    grey.Allocate(w, h, 24);
    std::vector<uint8_t> row24(size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
        decodeRowTo24(source.ScanLine(y), w, source.BitCount(), source.ColorTable(), source.PixelFormat(),
                      row24.data());
        uint8_t* out = grey.RowPointer(y);
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = row24.data() + 3 * x;
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = uint8_t(t.red[p[2]] + t.green[p[1]] + t.blue[p[0]]);
        }
    }
    if (bitCount <= 8) {
        const int levels = 1 << bitCount;
        for (int i = 0; i < 256; ++i) {
            const uint8_t v = uint8_t(i < levels ? i * 255 / (levels - 1) : 0);
            grey.ColorTable()[size_t(i)] = TRGBQuad{v, v, v, 0};
        }
    }
    grey.ChangeBitCount(bitCount);
    *this = grey;
}

void TDIB::Mirror(bool mirrorX, bool mirrorY)
{
    if (IsEmpty() || (!mirrorX && !mirrorY))
        return;
    const int w = Width(), h = Height(), bits = BitCount();
    if (mirrorY && !mirrorX) {
        std::vector<uint8_t> buffer(static_cast<size_t>(WidthBytes()));
        for (int i = 0; i < h / 2; ++i) {
            uint8_t* a = RowPointer(i);
            uint8_t* b = RowPointer(h - 1 - i);
            std::memcpy(buffer.data(), a, buffer.size());
            std::memcpy(a, b, buffer.size());
            std::memcpy(b, buffer.data(), buffer.size());
        }
        return;
    }
    if (mirrorX && !mirrorY) {
        for (int y = 0; y < h; ++y)
            reverseRow(RowPointer(y), w, bits);
        return;
    }
    for (int i = 0; i < h / 2; ++i) {
        uint8_t* a = RowPointer(i);
        uint8_t* b = RowPointer(h - 1 - i);
        for (int j = 0; j < w; ++j)
            swapPixels(a, j, b, w - 1 - j, bits);
    }
    if (h % 2)
        reverseRow(RowPointer(h / 2), w, bits);
}

}  // namespace tsx
