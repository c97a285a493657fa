// The LZW decoders on raw code streams: the first byte picks the flavour and
// the destination size, so strings that straddle rows are exercised too.
#include <cstdint>
#include <span>
#include <vector>

#include "imageio/decoders/decoder.h"
#include "raster/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int flavour = data[0] % 10;  // 0..7: GIF code sizes 1..8, 8: TIFF, 9: old TIFF
    const size_t row = 1 + data[1] % 64;
    std::span<const uint8_t> src(data + 2, size - 2);
    try {
        std::vector<uint8_t> out(row);
        if (flavour < 8) {
            tsx::TGIFLZW lzw(flavour + 1);
            for (int rows = 0; rows < 4096 && lzw.Decode(src, out) == row; ++rows) {
            }
        } else {
            tsx::TTIFFLZW lzw(flavour == 9);
            for (int rows = 0; rows < 4096 && lzw.Decode(src, out) == row; ++rows) {
            }
        }
    } catch (const tsx::Error&) {
    }
    return 0;
}
