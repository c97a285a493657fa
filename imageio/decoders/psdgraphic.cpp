#include <algorithm>
#include <cstring>
#include <vector>

#include "imageio/decoders/decode_support.h"
#include "imageio/decoders/decoder.h"
#include "imageio/decoders/graphics.h"
#include "raster/byte_io.h"

namespace tsx {

namespace {
constexpr const char* kNotPSD = "Not a valid psd file.";

enum Mode { kBitmap = 0, kGreyscale = 1, kIndexed = 2, kRGB = 3, kCMYK = 4, kDuotone = 8, kLab = 9 };
constexpr int kPackBitsBestRatio = 64;
}  // namespace

void TPSDGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    ByteReader r(data, size);
    uint8_t signature[4];
    r.bytes(signature, 4);
    if (std::memcmp(signature, "8BPS", 4) != 0 || r.u16be() != 1)
        decode::fail(kNotPSD);
    r.skip(6);
    const int fileChannels = r.u16be();
    const int64_t height = r.u32be();
    const int64_t width = r.u32be();
    const int depth = r.u16be();
    const int mode = r.u16be();

    int channels, bitCount;
    switch (mode) {
    case kBitmap: channels = 1, bitCount = 1; break;
    case kGreyscale:
    case kIndexed:
    case kDuotone: channels = 1, bitCount = 8; break;
    case kRGB:
    case kLab: channels = 3, bitCount = 24; break;
    case kCMYK: channels = 4, bitCount = 24; break;
    default: decode::fail(kNotPSD);
    }
    if ((mode == kBitmap) != (depth == 1) || (depth != 1 && depth != 8 && depth != 16) || fileChannels < channels)
        decode::fail(kNotPSD);
    decode::checkDimensions(width, height, kNotPSD);

    TColorTable palette{};
    const size_t modeDataBytes = r.u32be();
    const auto modeData = r.take(modeDataBytes);
    if (mode == kIndexed && modeDataBytes >= 768) {
        // all reds, then all greens, then all blues
        for (size_t i = 0; i < 256; ++i)
            palette[i] = TRGBQuad{modeData[512 + i], modeData[256 + i], modeData[i], 0};
    }
    r.skip(r.u32be());  // image resources
    r.skip(r.u32be());  // layers and masks: only the merged image is shown
    const int compression = r.u16be();
    if (compression > 1)
        decode::fail(kNotPSD);

    const int sampleBytes = depth == 16 ? 2 : 1;
    const size_t planeRowBytes =
        size_t(mode == kBitmap ? decode::packedRowBytes(width, 1) : width * sampleBytes);
    const size_t rows = size_t(height);
    // the file must hold the row length table, or the raw rows, before we size anything by them
    if (compression == 1)
        r.need(size_t(fileChannels) * rows * 2);
    else
        r.need(planeRowBytes * rows * size_t(channels));
    // where each row of each channel we use begins, and how many bytes it has
    std::vector<size_t> rowStart(size_t(channels) * rows), rowBytes(size_t(channels) * rows, planeRowBytes);
    if (compression == 1) {
        ByteReader table = r;
        r.skip(size_t(fileChannels) * rows * 2);
        size_t at = r.pos();
        int64_t packed = 0;
        for (size_t i = 0; i < rowStart.size(); ++i) {
            rowStart[i] = at;
            rowBytes[i] = table.u16be();
            at += rowBytes[i];
            packed += int64_t(rowBytes[i]);
        }
        decode::checkExpansion(int64_t(planeRowBytes * rowStart.size()), std::min<int64_t>(packed, int64_t(r.remaining())),
                               kPackBitsBestRatio, kNotPSD);
    } else {
        for (size_t i = 0; i < rowStart.size(); ++i)
            rowStart[i] = r.pos() + i * planeRowBytes;
    }

    TDIB dib;
    dib.Allocate(int(width), int(height), bitCount);
    TColorTable& table = dib.ColorTable();
    if (mode == kBitmap) {
        table.fill(TRGBQuad{});
        table[0] = TRGBQuad{255, 255, 255, 0};  // bitmap mode: a set bit is black
    } else if (mode == kIndexed) {
        table = palette;
    } else if (bitCount == 8) {
        decode::setGreyRamp(table, 8);
    }

    std::vector<uint8_t> planes(size_t(channels) * planeRowBytes);
    TPackbitsRLE packBits;
    const std::span<const uint8_t> file(data, size);
    const size_t w = size_t(width);
    for (size_t y = 0; y < rows; ++y) {
        for (size_t c = 0; c < size_t(channels); ++c) {
            const size_t i = c * rows + y;
            uint8_t* plane = planes.data() + c * planeRowBytes;
            const size_t start = std::min(rowStart[i], size);
            std::span<const uint8_t> src = file.subspan(start, std::min(rowBytes[i], size - start));
            size_t got;
            if (compression == 1) {
                packBits.Reset();
                got = packBits.Decode(src, std::span<uint8_t>(plane, planeRowBytes));
            } else {
                got = src.size();
                std::memcpy(plane, src.data(), got);
            }
            std::fill(plane + got, plane + planeRowBytes, uint8_t(0));
        }
        uint8_t* out = dib.RowPointer(int(y));
        // 16-bit samples are big-endian: the first byte is the high one
        auto sample = [&](size_t c, size_t x) { return planes[c * planeRowBytes + x * size_t(sampleBytes)]; };
        auto full = [&](size_t c, size_t x) {
            const uint8_t* p = &planes[c * planeRowBytes + x * 2];
            return p[0] << 8 | p[1];
        };
        if (bitCount == 1) {
            std::memcpy(out, planes.data(), planeRowBytes);
        } else if (bitCount == 8) {
            for (size_t x = 0; x < w; ++x)
                out[x] = sample(0, x);
        } else if (mode == kRGB) {
            for (size_t x = 0; x < w; ++x, out += 3) {
                out[0] = sample(2, x);
                out[1] = sample(1, x);
                out[2] = sample(0, x);
            }
        } else if (mode == kLab) {
            // a and b are stored with 128 for neutral
            for (size_t x = 0; x < w; ++x, out += 3)
                decode::labToBgr(sample(0, x), sample(1, x) - 128, sample(2, x) - 128, out);
        } else if (sampleBytes == 1) {
            // the file stores 255 for no ink
            for (size_t x = 0; x < w; ++x, out += 3)
                decode::cmykToBgr(255 - sample(0, x), 255 - sample(1, x), 255 - sample(2, x), 255 - sample(3, x), out);
        } else {
            for (size_t x = 0; x < w; ++x, out += 3)
                decode::cmyk16ToBgr(65535 - full(0, x), 65535 - full(1, x), 65535 - full(2, x), 65535 - full(3, x), out);
        }
    }
    dib_ = std::move(dib);
}

}  // namespace tsx
