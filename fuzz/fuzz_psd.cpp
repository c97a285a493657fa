// Photoshop files: any input either raises one of our errors or gives a picture
// within the pixel limit that widens to 24 bits.
#include <cstdint>
#include <cstdlib>

#include "imageio/decoders/graphics.h"
#include "raster/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tsx::TPSDGraphic picture;
    try {
        picture.LoadFromMemory(data, size);
    } catch (const tsx::Error&) {
        return 0;
    }
    if (int64_t(picture.Width()) * picture.Height() > tsx::kMaxPicturePixels)
        std::abort();
    picture.SetPixelFormat24();
    if (!picture.Dib().IsEmpty() && picture.Dib().BitCount() != 24)
        std::abort();
    return 0;
}
