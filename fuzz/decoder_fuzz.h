// The check every decoder's fuzz target makes: any input either raises one of
// our errors or gives a picture within the pixel limit that widens to 24 bits.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "imageio/decoders/graphics.h"
#include "raster/errors.h"

namespace tsx::fuzzing {

template <class Graphic>
int fuzzDecoder(const uint8_t* data, size_t size)
{
    Graphic picture;
    try {
        picture.LoadFromMemory(data, size);
    } catch (const Error&) {
        return 0;
    }
    if (int64_t(picture.Width()) * picture.Height() > kMaxPicturePixels)
        std::abort();
    picture.SetPixelFormat24();
    if (!picture.Dib().IsEmpty() && picture.Dib().BitCount() != 24)
        std::abort();
    return 0;
}

}  // namespace tsx::fuzzing
