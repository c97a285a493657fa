// Autodesk PIC and CEL files
#include "fuzz/decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return tsx::fuzzing::fuzzDecoder<tsx::TAutodeskGraphic>(data, size);
}
