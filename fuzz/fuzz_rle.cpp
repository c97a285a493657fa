// The run-length decompressors on raw streams: the first byte picks the
// flavour, the second the destination size, so runs that straddle rows and
// streams that end inside a run are exercised. A decoder must never write
// past its destination nor read past its source, and must always return a
// count within the destination.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "imageio/decoders/decoder.h"
#include "raster/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    std::unique_ptr<tsx::TDecoder> decoder;
    switch (data[0] % 6) {
    case 0: decoder = std::make_unique<tsx::TPackbitsRLE>(); break;
    case 1: decoder = std::make_unique<tsx::TPCXRLE>(); break;
    case 2: decoder = std::make_unique<tsx::TSGIRLE>(1); break;
    case 3: decoder = std::make_unique<tsx::TSGIRLE>(2); break;
    case 4: decoder = std::make_unique<tsx::TCUTRLE>(); break;
    default: decoder = std::make_unique<tsx::TRLADecoder>(); break;
    }
    const size_t row = 1 + data[1] % 97;
    // the input lives in its own allocation so a read past it is seen
    std::vector<uint8_t> packed(data + 2, data + size);
    std::span<const uint8_t> src(packed);
    try {
        std::vector<uint8_t> out(row);
        for (int rows = 0; rows < 4096 && !src.empty(); ++rows) {
            const size_t before = src.size();
            const size_t n = decoder->Decode(src, out);
            if (n > row || src.size() > before)
                std::abort();
            if (n == 0 && src.size() == before)
                break;  // nothing more to take
        }
        decoder->DecodeEnd();
    } catch (const tsx::Error&) {
    }
    return 0;
}
