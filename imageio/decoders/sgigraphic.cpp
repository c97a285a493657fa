#include <algorithm>
#include <vector>

#include "imageio/decoders/decode_support.h"
#include "imageio/decoders/decoder.h"
#include "imageio/decoders/graphics.h"
#include "raster/byte_io.h"

namespace tsx {

namespace {
constexpr const char* kNotSGI = "Not a valid sgi, bw or rgb(a) image.";

constexpr uint16_t kMagic = 474;
constexpr size_t kHeaderBytes = 512;
constexpr int kBestRunRatio = 64;  // one control and one value make 127 values
}  // namespace

void TSGIGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    ByteReader r(data, size);
    if (r.u16be() != kMagic)
        decode::fail(kNotSGI);
    const int storage = r.u8();
    const int bytesPerChannel = r.u8();
    const int dimension = r.u16be();
    const int64_t width = r.u16be();
    int64_t height = r.u16be();
    int64_t depth = r.u16be();
    if ((bytesPerChannel != 1 && bytesPerChannel != 2) || storage > 1)
        decode::fail(kNotSGI);
    // fewer dimensions leave the later sizes unused
    if (dimension == 1)
        height = 1;
    if (dimension <= 2)
        depth = 1;
    decode::checkDimensions(width, height, kNotSGI);
    if (depth < 1)
        decode::fail(kNotSGI);
    const int channels = depth == 3 || depth == 4 ? int(depth) : 1;
    const int bitCount = channels == 3 ? 24 : channels == 4 ? 32 : 8;

    const size_t planeRowBytes = size_t(width) * size_t(bytesPerChannel);
    const bool runLength = storage == 1;
    if (runLength) {
        // one start and one length per row and channel
        r.seek(kHeaderBytes);
        r.need(size_t(height) * size_t(depth) * 8);
        // sound files give every row its own bytes, so together they fit in the file
        int64_t packed = 0;
        ByteReader lengths(data, size);
        lengths.seek(kHeaderBytes + size_t(height) * size_t(depth) * 4);
        for (int64_t i = 0; i < height * channels; ++i)
            packed += lengths.u32be();
        decode::checkExpansion(int64_t(planeRowBytes) * height * channels, std::min<int64_t>(packed, int64_t(size)),
                               kBestRunRatio, kNotSGI);
    } else if (kHeaderBytes + uint64_t(channels) * uint64_t(height) * planeRowBytes > size) {
        decode::fail(kNotSGI);
    }

    TDIB dib;
    dib.Allocate(int(width), int(height), bitCount);
    if (bitCount == 8)
        decode::setGreyRamp(dib.ColorTable(), 8);

    std::vector<uint8_t> planes(size_t(channels) * size_t(width));
    const std::span<const uint8_t> file(data, size);
    TSGIRLE rle(bytesPerChannel);
    const size_t hi = 0;  // values are big-endian: the first byte is the high one
    for (int64_t y = 0; y < height; ++y) {
        for (int c = 0; c < channels; ++c) {
            uint8_t* plane = planes.data() + size_t(c) * size_t(width);
            const size_t tableIndex = size_t(y) + size_t(c) * size_t(height);
            if (runLength) {
                ByteReader t(data, size);
                t.seek(kHeaderBytes + 4 * tableIndex);
                const size_t start = std::min<size_t>(t.u32be(), size);
                t.seek(kHeaderBytes + 4 * (tableIndex + size_t(height) * size_t(depth)));
                const size_t length = std::min<size_t>(t.u32be(), size - start);
                std::span<const uint8_t> src = file.subspan(start, length);
                const size_t got = rle.Decode(src, std::span<uint8_t>(plane, size_t(width)));
                std::fill(plane + got, plane + width, uint8_t(0));
            } else {
                const uint8_t* p = data + kHeaderBytes + tableIndex * planeRowBytes;
                for (int64_t x = 0; x < width; ++x)
                    plane[x] = p[size_t(x) * size_t(bytesPerChannel) + hi];
            }
        }
        uint8_t* out = dib.RowPointer(int(height - 1 - y));  // rows are stored bottom first
        const size_t w = size_t(width);
        if (channels == 1) {
            std::copy(planes.begin(), planes.begin() + ptrdiff_t(w), out);
        } else {
            const uint8_t* red = planes.data();
            const uint8_t* green = red + w;
            const uint8_t* blue = green + w;
            const uint8_t* alpha = blue + w;
            for (size_t x = 0; x < w; ++x, out += channels) {
                out[0] = blue[x];
                out[1] = green[x];
                out[2] = red[x];
                if (channels == 4)
                    out[3] = alpha[x];
            }
        }
    }
    dib_ = std::move(dib);
}

}  // namespace tsx
