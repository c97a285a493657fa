// JPEG header reading and decoding on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "imageio/graphics.h"
#include "raster/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        tsx::TJPEGImage jpeg;
        jpeg.LoadFromMemory(data, size);
        tsx::TBitmap bitmap;
        jpeg.DecodeInto(bitmap);
        bitmap.SetPixelFormat24();
    } catch (const tsx::Error&) {
    }
    return 0;
}
