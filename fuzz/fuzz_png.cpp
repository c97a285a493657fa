// PNG files, read through their library
#include "fuzz/decoder_fuzz.h"
#include "imageio/photo_graphics.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return tsx::fuzzing::fuzzDecoder<tsx::TPNGGraphic>(data, size);
}
