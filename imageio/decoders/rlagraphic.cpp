#include <algorithm>
#include <cstdlib>
#include <vector>

#include "imageio/decoders/decode_support.h"
#include "imageio/decoders/decoder.h"
#include "imageio/decoders/graphics.h"
#include "raster/byte_io.h"

namespace tsx {

namespace {
constexpr const char* kNotRGB = "RLA: image must be RGB(A).";

constexpr size_t kHeaderBytes = 740;
constexpr size_t kChannelCountAt = 20;
constexpr int kBestRunRatio = 64;  // two bytes make at most 128
}  // namespace

void TRLAGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    ByteReader r(data, size);
    r.need(kHeaderBytes);
    const int left = r.i16be(), right = r.i16be(), bottom = r.i16be(), top = r.i16be();
    r.seek(kChannelCountAt);
    const int colourChannels = r.i16be();
    const int matteChannels = r.i16be();
    if (colourChannels != 3 && colourChannels != 4)
        decode::fail(kNotRGB);
    const int64_t width = int64_t(right) - left + 1;
    const int64_t height = std::abs(int64_t(top) - bottom) + 1;
    decode::checkDimensions(width, height, kNotRGB);
    r.seek(kHeaderBytes);
    r.need(size_t(height) * 4);  // one offset per row

    const bool alpha = matteChannels > 0;
    const int channels = alpha ? 4 : 3;
    decode::checkExpansion(width * height * channels, int64_t(size), kBestRunRatio, kNotRGB);

    TDIB dib;
    dib.Allocate(int(width), int(height), alpha ? 32 : 24);
    // the offset table runs from the window's bottom row upwards; a window
    // whose top lies below its bottom is stored the other way round
    const bool bottomFirst = bottom <= top;
    const size_t w = size_t(width);
    std::vector<uint8_t> planes(size_t(channels) * w);
    // the colour channels come first, then the matte channels
    const int stored = alpha ? colourChannels + 1 : 3;
    const std::span<const uint8_t> file(data, size);
    TRLADecoder rla;
    for (int64_t i = 0; i < height; ++i) {
        ByteReader row(data, size);
        row.seek(std::min<size_t>(r.u32be(), size));
        std::fill(planes.begin(), planes.end(), uint8_t(0));
        for (int c = 0; c < stored && row.remaining() >= 2; ++c) {
            const size_t length = std::min<size_t>(row.u16be(), row.remaining());
            std::span<const uint8_t> src = file.subspan(row.pos(), length);
            row.skip(length);
            const int plane = c < 3 ? c : c == stored - 1 && alpha ? 3 : -1;
            if (plane >= 0)
                rla.Decode(src, std::span<uint8_t>(planes.data() + size_t(plane) * w, w));
        }
        uint8_t* out = dib.RowPointer(int(bottomFirst ? height - 1 - i : i));
        const uint8_t* red = planes.data();
        const uint8_t* green = red + w;
        const uint8_t* blue = green + w;
        const uint8_t* matte = blue + w;
        for (size_t x = 0; x < w; ++x, out += channels) {
            out[0] = blue[x];
            out[1] = green[x];
            out[2] = red[x];
            if (alpha)
                out[3] = matte[x];
        }
    }
    dib_ = std::move(dib);
}

}  // namespace tsx
