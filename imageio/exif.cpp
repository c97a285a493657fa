#include "imageio/exif.h"

#include <cstring>

namespace tsx {

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;

struct TiffReader {
    std::span<const uint8_t> data;
    bool bigEndian = false;

    bool has(size_t offset, size_t n) const { return offset <= data.size() && n <= data.size() - offset; }
    uint16_t u16(size_t at) const
    {
        return bigEndian ? uint16_t(data[at] << 8 | data[at + 1]) : uint16_t(data[at] | data[at + 1] << 8);
    }
    uint32_t u32(size_t at) const
    {
        return bigEndian ? uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 | uint32_t(data[at + 2]) << 8
                               | data[at + 3]
                         : uint32_t(data[at + 3]) << 24 | uint32_t(data[at + 2]) << 16
                               | uint32_t(data[at + 1]) << 8 | data[at];
    }
};

}  // namespace

int exifOrientation(std::span<const uint8_t> block)
{
    static const uint8_t kExifPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (block.size() >= 6 && std::memcmp(block.data(), kExifPrefix, 6) == 0)
        block = block.subspan(6);
    TiffReader r{block};
    if (!r.has(0, 8))
        return 1;
    if (block[0] == 'I' && block[1] == 'I')
        r.bigEndian = false;
    else if (block[0] == 'M' && block[1] == 'M')
        r.bigEndian = true;
    else
        return 1;
    if (r.u16(2) != 42)
        return 1;
    const size_t ifd = r.u32(4);
    if (!r.has(ifd, 2))
        return 1;
    const size_t count = r.u16(ifd);
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = ifd + 2 + i * 12;
        if (!r.has(entry, 12))
            return 1;
        if (r.u16(entry) != kOrientationTag)
            continue;
        if (r.u16(entry + 2) != kTypeShort || r.u32(entry + 4) != 1)
            return 1;
        // a single SHORT sits in the first two bytes of the value field
        const int value = r.u16(entry + 8);
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

TDIB orientRaster(const TDIB& stored, int orientation)
{
    if (orientation <= 1 || orientation > 8 || stored.IsEmpty() || stored.BitCount() != 24)
        return stored;
    const int w = stored.Width(), h = stored.Height();
    const bool swap = orientation >= 5;
    TDIB out;
    out.Allocate(swap ? h : w, swap ? w : h, 24);
    const int ow = out.Width(), oh = out.Height();
    for (int y = 0; y < oh; ++y) {
        uint8_t* dst = out.RowPointer(y);
        for (int x = 0; x < ow; ++x) {
            int sx = 0, sy = 0;
            storedPoint(orientation, w, h, x, y, sx, sy);
            const uint8_t* src = stored.ScanLine(sy) + size_t(sx) * 3;
            dst[size_t(x) * 3] = src[0];
            dst[size_t(x) * 3 + 1] = src[1];
            dst[size_t(x) * 3 + 2] = src[2];
        }
    }
    return out;
}

}  // namespace tsx
