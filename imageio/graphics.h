// The graphic classes of the registry that are not bitmaps: JPEG images,
// which LoadPicture decodes into a bitmap, and icons and metafiles, which the
// program registers but never draws.
#pragma once

#include <vector>

#include "imageio/picture.h"

namespace tsx {

/// A JPEG file held as its bytes; the pixels are decoded on request.
class TJPEGImage : public TGraphic {
public:
    const char* ClassName() const override { return "TJPEGImage"; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // Decodes on first use, so drawing a JPEG graphic works like drawing a bitmap.
    const TDIB* PixelRaster() const override;
    /// Keeps the bytes and reads the header (size, greyscale, progressive).
    void LoadFromMemory(const uint8_t* data, size_t size) override;
    // Keeps the file's bytes without copying them again.
    void LoadFromFile(const std::string& fileName) override;

    bool Grayscale() const { return grayscale_; }
    bool ProgressiveEncoding() const { return progressive_; }
    /// The Exif orientation of the APP1 block, 1 when there is none.
    int StoredOrientation() const { return orientation_; }
    /// Decodes the image into the bitmap: 24 bits per pixel for a colour
    /// file, 8 bits with a 236-colour grey palette for a greyscale one.
    void DecodeInto(TBitmap& bitmap) const { DecodeInto(bitmap, 8); }
    /// The same at eighths / 8 of the full size (libjpeg's DCT scaling, 1 to 8).
    void DecodeInto(TBitmap& bitmap, int eighths) const;
    /// The smallest DCT scale, in eighths, whose upright picture still has at
    /// least width × height pixels; 8 when even the full size has fewer.
    int CoveringScale(int width, int height) const;
    /// The width × height nearest-pixel sample of the upright full-size
    /// picture, exactly as stretching DecodeInto's bitmap would give it, but
    /// decoding only the stored rows it takes. False for greyscale files,
    /// whose dithered palette needs every row; the caller decodes them whole.
    /// With eighth, the same pass also gives the picture as DecodeInto(bitmap,
    /// 1) does (as stored, not turned), or leaves eighth empty where it cannot:
    /// a progressive or damaged file, or an uncommon sampling.
    bool SampleInto(TDIB& sample, int width, int height, TDIB* eighth = nullptr) const;

private:
    void loadBytes(std::vector<uint8_t> bytes);
    std::vector<uint8_t> data_;
    int width_ = 0;
    int height_ = 0;
    bool grayscale_ = false;
    bool progressive_ = false;
    int orientation_ = 1;
    mutable TBitmap decoded_;
    mutable bool isDecoded_ = false;
};

/// Icons are registered but not decoded: an icon is always an empty picture.
class TIcon : public TGraphic {
public:
    const char* ClassName() const override { return "TIcon"; }
    int Width() const override { return 0; }
    int Height() const override { return 0; }
    void LoadFromMemory(const uint8_t*, size_t) override {}
};

/// Metafiles are registered but not decoded, like icons.
class TMetafile : public TGraphic {
public:
    const char* ClassName() const override { return "TMetafile"; }
    int Width() const override { return 0; }
    int Height() const override { return 0; }
    void LoadFromMemory(const uint8_t*, size_t) override {}
};

}  // namespace tsx
