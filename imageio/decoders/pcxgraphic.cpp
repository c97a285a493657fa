#include <algorithm>
#include <cstring>
#include <vector>

#include "imageio/decoders/decode_support.h"
#include "imageio/decoders/decoder.h"
#include "imageio/decoders/graphics.h"
#include "raster/byte_io.h"

namespace tsx {

namespace {
constexpr const char* kNotPCX = "Not a PCX or SCR file.";
constexpr const char* kWrongPixelFormat = "PCX: wrong pixel format";

constexpr size_t kHeaderBytes = 128;
constexpr size_t kPaletteTrailerBytes = 769;
constexpr int kBestRunRatio = 32;  // two bytes make at most 63
}  // namespace

void TPCXGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    ByteReader r(data, size);
    const uint8_t manufacturer = r.u8();
    if (manufacturer != 10 && manufacturer != 205)
        decode::fail(kNotPCX);
    const uint8_t version = r.u8();
    const uint8_t encoding = r.u8();
    const int bitsPerPlane = r.u8();
    const int xmin = r.u16le(), ymin = r.u16le(), xmax = r.u16le(), ymax = r.u16le();
    r.skip(4);  // resolution
    uint8_t headerPalette[48];
    r.bytes(headerPalette, sizeof headerPalette);
    r.skip(1);
    const int planes = r.u8();
    const int bytesPerLine = r.u16le();
    const int paletteType = r.u16le();
    r.seek(kHeaderBytes);

    int bitCount;
    if (bitsPerPlane == 1 && planes == 1)
        bitCount = 1;
    else if (bitsPerPlane == 1 && planes == 4)
        bitCount = 4;
    else if (bitsPerPlane == 8 && planes == 1)
        bitCount = 8;
    else if (bitsPerPlane == 8 && planes == 3)
        bitCount = 24;
    else
        decode::fail(kWrongPixelFormat);

    const int64_t width = int64_t(xmax) - xmin + 1;
    const int64_t height = int64_t(ymax) - ymin + 1;
    decode::checkDimensions(width, height, kNotPCX);
    if (bytesPerLine == 0)
        decode::fail(kNotPCX);

    std::span<const uint8_t> packed = r.rest();
    const bool trailerPalette = bitCount == 8 && size >= kHeaderBytes + kPaletteTrailerBytes
        && data[size - kPaletteTrailerBytes] == 12;
    if (trailerPalette)
        packed = packed.first(packed.size() - kPaletteTrailerBytes);

    const size_t lineBytes = size_t(bytesPerLine) * size_t(planes);
    const int64_t unpackedBytes = int64_t(lineBytes) * height;
    const int64_t ratio = encoding == 1 ? kBestRunRatio : 1;
    decode::checkExpansion(unpackedBytes, int64_t(packed.size()), ratio, kNotPCX);
    // rows narrower than the picture occur in real files (the rest of the row
    // stays black), so the picture itself is bounded by the data as well
    decode::checkExpansion(decode::packedRowBytes(width, bitCount) * height, int64_t(packed.size()), ratio, kNotPCX);

    TDIB dib;
    dib.Allocate(int(width), int(height), bitCount);
    TColorTable& table = dib.ColorTable();
    if (bitCount == 1) {
        table.fill(TRGBQuad{});
        table[1] = TRGBQuad{255, 255, 255, 0};
    } else if (bitCount == 4) {
        if (version == 3) {
            table.fill(TRGBQuad{});
            decode::setStandardPalette16(table);
        } else if (paletteType == 2) {
            decode::setGreyRamp(table, 4);
        } else {
            table.fill(TRGBQuad{});
            for (int i = 0; i < 16; ++i)
                table[size_t(i)] = TRGBQuad{headerPalette[3 * i + 2], headerPalette[3 * i + 1], headerPalette[3 * i], 0};
        }
    } else if (bitCount == 8) {
        if (trailerPalette) {
            const uint8_t* p = data + size - kPaletteTrailerBytes + 1;
            for (int i = 0; i < 256; ++i, p += 3)
                table[size_t(i)] = TRGBQuad{p[2], p[1], p[0], 0};
        } else if (paletteType == 2) {
            decode::setGreyRamp(table, 8);
        } else if (version == 3) {
            table.fill(TRGBQuad{});
            decode::setStandardPalette16(table);
        }
        // otherwise the file names no colours and the raster keeps its grey ramp
    }

    std::vector<uint8_t> line(lineBytes);
    TPCXRLE rle;
    const size_t widthPixels = size_t(width);
    const size_t pixelBytes = size_t(decode::packedRowBytes(width, bitCount));
    for (int y = 0; y < int(height); ++y) {
        size_t got;
        if (encoding == 1) {
            got = rle.Decode(packed, line);
        } else {
            got = std::min(lineBytes, packed.size());
            std::memcpy(line.data(), packed.data(), got);
            packed = packed.subspan(got);
        }
        if (got < lineBytes)
            std::fill(line.begin() + ptrdiff_t(got), line.end(), uint8_t(0));
        uint8_t* row = dib.RowPointer(y);
        if (bitCount == 1 || bitCount == 8) {
            std::memcpy(row, line.data(), std::min(size_t(bytesPerLine), pixelBytes));
        } else if (bitCount == 24) {
            const size_t n = std::min(widthPixels, size_t(bytesPerLine));
            const uint8_t* red = line.data();
            const uint8_t* green = red + bytesPerLine;
            const uint8_t* blue = green + bytesPerLine;
            for (size_t x = 0; x < n; ++x) {
                row[3 * x] = blue[x];
                row[3 * x + 1] = green[x];
                row[3 * x + 2] = red[x];
            }
        } else {
            // four bit planes, plane 0 the lowest bit of each pixel
            const size_t n = std::min(widthPixels, size_t(bytesPerLine) * 8);
            for (size_t x = 0; x < n; ++x) {
                const size_t byte = x >> 3;
                const int shift = 7 - int(x & 7);
                int index = 0;
                for (int plane = 0; plane < 4; ++plane)
                    index |= ((line[size_t(plane) * size_t(bytesPerLine) + byte] >> shift) & 1) << plane;
                uint8_t& target = row[x >> 1];
                if (x & 1)
                    target = uint8_t((target & 0xF0) | index);
                else
                    target = uint8_t((target & 0x0F) | (index << 4));
            }
        }
        if (got < lineBytes)
            break;
    }
    dib_ = std::move(dib);
}

}  // namespace tsx
