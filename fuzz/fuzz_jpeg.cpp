// JPEG header reading, decoding and the sampling pass on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "imageio/graphics.h"
#include "raster/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tsx::TJPEGImage jpeg;
    try {
        jpeg.LoadFromMemory(data, size);
        tsx::TBitmap bitmap;
        jpeg.DecodeInto(bitmap);
        bitmap.SetPixelFormat24();
    } catch (const tsx::Error&) {
    }
    // the folder load's pass: sampled rows, and the 1/8 picture from every block
    try {
        tsx::TDIB sample, eighth;
        jpeg.SampleInto(sample, 16, 16, &eighth);
    } catch (const tsx::Error&) {
    }
    return 0;
}
