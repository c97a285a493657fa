// Exif blocks: any bytes give an orientation of 1 to 8, and turning a raster
// by it keeps every pixel
#include <cstdlib>

#include "imageio/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int orientation = tsx::exifOrientation({data, size});
    if (orientation < 1 || orientation > 8)
        std::abort();
    tsx::TDIB raster;
    raster.Allocate(3, 2, 24);
    const tsx::TDIB turned = tsx::orientRaster(raster, orientation);
    if (int64_t(turned.Width()) * turned.Height() != 6)
        std::abort();
    return 0;
}
