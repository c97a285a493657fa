// Photo-CD files are only recognised, never decoded: any input must end in
// one of our errors, whatever its length.
#include <cstdint>
#include <cstdlib>

#include "imageio/decoders/graphics.h"
#include "raster/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tsx::TPCDGraphic picture;
    try {
        picture.LoadFromMemory(data, size);
    } catch (const tsx::Error&) {
        return 0;
    }
    std::abort();
}
