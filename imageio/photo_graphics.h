// The formats of today's cameras and phones, read through the libraries made
// for them. Each gives a 24-bit bitmap like every other reader: transparent
// pixels are laid over white, 16-bit samples keep their high byte, palette
// and grey pictures are expanded. Damaged files raise EInvalidGraphic with
// the format's name and the library's own words.
#pragma once

#include "imageio/formats.h"
#include "imageio/picture.h"

namespace tsx {

/// PNG, every colour type and depth.
class TPNGGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TPNGGraphic"; }
    void LoadFromMemory(const uint8_t* data, size_t size) override;
};

/// WebP, lossy or lossless; the first frame of an animation.
class TWebPGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TWebPGraphic"; }
    void LoadFromMemory(const uint8_t* data, size_t size) override;
};

/// HEIF and AVIF: the primary image, turned and cropped as the file asks.
class THEIFGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "THEIFGraphic"; }
    void LoadFromMemory(const uint8_t* data, size_t size) override;
};

/// Registers the extensions of these formats after every older entry.
void registerPhotoFormats(TFileFormatsList& list);

// Lays an RGBA row (8 bits a sample) over white into a blue, green, red row.
void compositeRgbaOnWhite(const uint8_t* rgba, uint8_t* bgr, int width);

}  // namespace tsx
