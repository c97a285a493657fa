#include "raster/dib_format.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "raster/errors.h"

namespace tsx {
namespace {

// A file may ask for a raster far larger than itself (run-length data, a cut
// file), but not without limit: beyond this floor a raster may be at most this
// many times the bytes that follow the colour table.
constexpr int64_t kUncheckedRasterBytes = int64_t(8) << 20;
constexpr int64_t kMaxExpansion = 1024;

struct ChannelMask {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
};

ChannelMask channelMask(uint32_t mask)
{
    ChannelMask m;
    if (mask == 0)
        return m;
    m.mask = mask;
    m.shift = std::countr_zero(mask);
    // a mask with holes is read as the span up to its highest bit
    m.bits = 32 - std::countl_zero(mask >> m.shift);
    return m;
}

inline uint8_t channel(uint32_t v, const ChannelMask& m)
{
    return m.bits ? widenChannel((v & m.mask) >> m.shift, m.bits) : 0;
}

bool validBitCount(int bitCount)
{
    return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

inline void setIndex(uint8_t* row, int x, int bitCount, uint8_t index)
{
    if (bitCount == 8) {
        row[x] = index;
    } else {  // 4 bits, high nibble first
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? uint8_t((b & 0xF0) | (index & 0x0F)) : uint8_t((b & 0x0F) | index << 4);
    }
}

// Run-length data of 8- or 4-bit rows, bottom row first: a count and a value,
// or an escape (0 then 0 end of line, 1 end of bitmap, 2 move by dx, dy, n >= 3
// that many literal pixels padded to an even byte count). Pixels outside the
// raster are dropped; pixels the data never reaches stay index 0; data that
// ends early simply ends the picture.
void expandRunLength(std::span<const uint8_t> bytes, TDIB& dib)
{
    ByteReader in(bytes);
    const int w = dib.Width(), h = dib.Height(), bitCount = dib.BitCount();
    int x = 0, y = 0;  // y counts from the bottom row
    uint8_t* row = dib.RowPointer(h - 1);
    auto nextRow = [&](int rows) {
        y += rows;
        x = 0;
        if (y < h)
            row = dib.RowPointer(h - 1 - y);
    };
    while (y < h && in.remaining() >= 2) {
        const uint8_t count = in.u8();
        const uint8_t value = in.u8();
        if (count > 0) {
            const int n = std::min<int>(count, std::max(0, w - x));
            for (int i = 0; i < n; ++i) {
                const uint8_t index = bitCount == 8 ? value : ((i & 1) ? value & 0x0F : value >> 4);
                setIndex(row, x + i, bitCount, index);
            }
            x = std::min(w, x + count);
        } else if (value == 0) {
            nextRow(1);
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (in.remaining() < 2)
                break;
            const int dx = in.u8();
            const int dy = in.u8();
            const int keepX = std::min(w, x + dx);
            if (dy > 0)
                nextRow(dy);
            x = keepX;
        } else {
            const int literalBytes = bitCount == 8 ? value : (value + 1) / 2;
            const size_t present = std::min<size_t>(size_t(literalBytes), in.remaining());
            const std::span<const uint8_t> literal = in.take(present);
            const int pixels = std::min<int>(value, bitCount == 8 ? int(present) : int(present) * 2);
            const int n = std::min(pixels, std::max(0, w - x));
            for (int i = 0; i < n; ++i) {
                const uint8_t index
                    = bitCount == 8 ? literal[size_t(i)] : ((i & 1) ? literal[size_t(i) / 2] & 0x0F : literal[size_t(i) / 2] >> 4);
                setIndex(row, x + i, bitCount, index);
            }
            x = std::min(w, x + value);
            if ((literalBytes & 1) && in.remaining() > 0)
                in.skip(1);
        }
    }
}

}  // namespace

uint8_t widenChannel(uint32_t value, int bits)
{
    if (bits >= 8)
        return uint8_t(value >> (bits - 8));
    // repeat the bits downwards, so the largest value becomes 255 and 0 stays 0
    uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = out << bits | value;
        filled += bits;
    }
    return uint8_t(out >> (filled - 8));
}

void decodeRowTo24(const uint8_t* src, int width, int bitCount, const TColorTable& table,
                   const TPixelFormat& pf, uint8_t* dst)
{
    auto putIndex = [&](int x, unsigned index) {
        const TRGBQuad& q = table[index & 0xFF];
        dst[3 * x] = q.rgbBlue;
        dst[3 * x + 1] = q.rgbGreen;
        dst[3 * x + 2] = q.rgbRed;
    };
    switch (bitCount) {
    case 1:
        for (int x = 0; x < width; ++x)
            putIndex(x, (src[x >> 3] >> (7 - (x & 7))) & 1);
        break;
    case 4:
        for (int x = 0; x < width; ++x)
            putIndex(x, (x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4);
        break;
    case 8:
        for (int x = 0; x < width; ++x)
            putIndex(x, src[x]);
        break;
    case 24:
        std::memcpy(dst, src, size_t(width) * 3);
        break;
    case 16:
    case 32: {
        const ChannelMask r = channelMask(pf.RBitMask), g = channelMask(pf.GBitMask), b = channelMask(pf.BBitMask);
        const bool plain32 = bitCount == 32 && pf == TPixelFormat::rgb888();
        for (int x = 0; x < width; ++x) {
            if (plain32) {
                dst[3 * x] = src[4 * x];
                dst[3 * x + 1] = src[4 * x + 1];
                dst[3 * x + 2] = src[4 * x + 2];
                continue;
            }
            const uint32_t v = bitCount == 16
                ? uint32_t(src[2 * x]) | uint32_t(src[2 * x + 1]) << 8
                : uint32_t(src[4 * x]) | uint32_t(src[4 * x + 1]) << 8 | uint32_t(src[4 * x + 2]) << 16
                    | uint32_t(src[4 * x + 3]) << 24;
            dst[3 * x] = channel(v, b);
            dst[3 * x + 1] = channel(v, g);
            dst[3 * x + 2] = channel(v, r);
        }
        break;
    }
    default:
        std::memset(dst, 0, size_t(width) * 3);
    }
}

void readDibBody(ByteReader& r, TDIB& out, const DibReadRules& rules)
{
    const char* invalidText = rules.bitmapReader ? msg::kBitmapInvalid : msg::kDIBInvalid;
    auto invalid = [&] { throw EInvalidGraphic(invalidText); };

    const uint32_t headerSize = r.u32le();
    const bool core = headerSize == 12;
    int64_t width = 0, height = 0;
    int planes = 0, bitCount = 0;
    uint32_t compression = 0, imageSize = 0, coloursUsed = 0;
    uint32_t masks[3] = {0, 0, 0};
    bool masksInHeader = false;
    if (core) {
        width = r.u16le();
        height = r.u16le();
        planes = r.u16le();
        bitCount = r.u16le();
    } else {
        if (rules.bitmapReader ? headerSize < 16 : headerSize != 40)
            invalid();
        // The fields of the 40-byte header; a shorter header leaves the rest
        // zero, a longer one's extra fields are ignored except the masks that
        // newer headers carry right after the first 40 bytes.
        const std::span<const uint8_t> fields = r.take(headerSize - 4);
        uint8_t info[36] = {};
        std::memcpy(info, fields.data(), std::min<size_t>(sizeof info, fields.size()));
        ByteReader h(info, sizeof info);
        width = h.i32le();
        height = h.i32le();
        planes = h.u16le();
        bitCount = h.u16le();
        compression = h.u32le();
        imageSize = h.u32le();
        h.skip(8);
        coloursUsed = h.u32le();
        if (compression == 3 && fields.size() >= 48) {
            ByteReader m(fields.subspan(36, 12));
            for (uint32_t& mask : masks)
                mask = m.u32le();
            masksInHeader = true;
        }
    }
    if (rules.bitmapReader && planes != 1)
        invalid();
    if (!validBitCount(bitCount))
        invalid();
    switch (compression) {
    case 0:
        break;
    case 1:
        if (bitCount != 8)
            invalid();
        break;
    case 2:
        if (bitCount != 4)
            invalid();
        break;
    case 3:
        if (bitCount != 16 && bitCount != 32)
            invalid();
        break;
    default:
        invalid();
    }
    const bool runLength = compression == 1 || compression == 2;
    const bool topDown = height < 0;
    if (topDown)
        height = -height;
    // run-length rows always go bottom-up; a top-down one is not a bitmap
    if (width <= 0 || height == 0 || (topDown && runLength))
        invalid();
    if (width * height > rules.maxPixels)
        invalid();

    if (compression == 3 && !masksInHeader)
        for (uint32_t& mask : masks)
            mask = r.u32le();

    const uint64_t entries = coloursUsed ? coloursUsed : (bitCount <= 8 ? 1u << bitCount : 0);
    const size_t entryBytes = core ? 3 : 4;
    r.need(entries * entryBytes);
    TColorTable table{};  // colours the file leaves out are black
    for (uint64_t i = 0; i < std::min<uint64_t>(entries, 256); ++i) {
        TRGBQuad& q = table[size_t(i)];
        q.rgbBlue = r.u8();
        q.rgbGreen = r.u8();
        q.rgbRed = r.u8();
        if (!core)
            r.skip(1);
    }
    if (entries > 256)
        r.skip((entries - 256) * entryBytes);

    // How the pixels are kept: as they are where a raster can hold them,
    // widened to 24 bits where the masks are none of ours.
    TPixelFormat format = TPixelFormat::rgb888();
    bool widen = false;
    if (bitCount == 16) {
        format = TPixelFormat::rgb555();
        if (compression == 3) {
            const TPixelFormat given{masks[0], masks[1], masks[2], 0, 0, 0};
            if (given.RBitMask == TPixelFormat::rgb565().RBitMask && given.GBitMask == TPixelFormat::rgb565().GBitMask
                && given.BBitMask == TPixelFormat::rgb565().BBitMask)
                format = TPixelFormat::rgb565();
            else if (!(given.RBitMask == format.RBitMask && given.GBitMask == format.GBitMask
                       && given.BBitMask == format.BBitMask))
                widen = true;
        }
    } else if (bitCount == 32 && compression == 3) {
        widen = !(masks[0] == format.RBitMask && masks[1] == format.GBitMask && masks[2] == format.BBitMask);
    }
    const int storedBitCount = widen ? 24 : bitCount;

    const int w = int(width), h = int(height);
    const int64_t rowBytes = (int64_t(bitCount) * w + 31) / 32 * 4;
    const int64_t rasterBytes = (int64_t(storedBitCount) * w + 31) / 32 * 4 * h;
    const size_t available = r.remaining();
    if (rasterBytes > std::max<int64_t>(kUncheckedRasterBytes, kMaxExpansion * int64_t(available)))
        invalid();

    TDIB result;
    result.ColorTable() = table;
    result.SetPixelFormat(widen ? TPixelFormat::rgb888() : format);
    result.Allocate(w, h, storedBitCount);

    if (runLength) {
        const size_t length = imageSize ? std::min<size_t>(imageSize, available) : available;
        expandRunLength(r.take(length), result);
    } else {
        const uint64_t dataBytes = imageSize ? uint64_t(imageSize) : uint64_t(rowBytes) * uint64_t(h);
        const std::span<const uint8_t> data = r.take(size_t(std::min<uint64_t>(dataBytes, available)));
        TPixelFormat fileFormat{masks[0], masks[1], masks[2], 0, 0, 0};
        std::vector<uint8_t> partial;
        for (int k = 0; k < h; ++k) {
            const uint64_t start = uint64_t(k) * uint64_t(rowBytes);
            if (start >= data.size())
                break;  // a cut file: the rows it lacks stay zero
            const size_t present = size_t(std::min<uint64_t>(uint64_t(rowBytes), data.size() - start));
            uint8_t* dst = result.RowPointer(topDown ? k : h - 1 - k);
            if (!widen) {
                std::memcpy(dst, data.data() + start, present);
                continue;
            }
            const uint8_t* src = data.data() + start;
            if (present < size_t(rowBytes)) {
                partial.assign(size_t(rowBytes), 0);
                std::memcpy(partial.data(), src, present);
                src = partial.data();
            }
            decodeRowTo24(src, w, bitCount, table, fileFormat, dst);
        }
    }
    out = std::move(result);
}

}  // namespace tsx
