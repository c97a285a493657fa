// The BMP reader on arbitrary bytes: it must raise one of our errors or give
// a bitmap whose every row can be read and converted to 24 bits.
#include <cstddef>
#include <cstdint>

#include "imageio/picture.h"
#include "raster/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        tsx::TBitmap bitmap;
        bitmap.LoadFromMemory(data, size);
        // large rasters are legal but slow the search down without reaching new code
        if (bitmap.Dib().Size() <= (1 << 16))
            bitmap.SetPixelFormat24();
        const tsx::TDIB& dib = bitmap.Dib();
        unsigned sum = 0;
        for (int y = 0; y < dib.Height(); ++y)
            sum += dib.ScanLine(y)[dib.WidthBytes() - 1];
        (void)sum;
    } catch (const tsx::Error&) {
    }
    return 0;
}
