// The picture container and the one routine that loads every image file.
#pragma once

#include <memory>
#include <string>

#include "raster/dib.h"

namespace tsx {

// Upper bound on the pixels of any decoded picture. A header that asks for
// more is refused before anything is allocated, so a forged header can never
// make us allocate gigabytes.
inline constexpr int64_t kMaxPicturePixels = int64_t(1) << 28;  // 268 megapixels

// Bitmaps may be as large as the largest mosaic the program writes
// (20480 x 20480), so that every mosaic it saved can be opened again.
inline constexpr int64_t kMaxBitmapPixels = int64_t(20480) * 20480;

// A bitmap of the platform: a raster of any bit count. Every decoder class
// derives from it; LoadPicture turns it into 24 bits per pixel.
class TBitmap : public TGraphic {
public:
    const char* ClassName() const override { return "TBitmap"; }
    int Width() const override { return dib_.Width(); }
    int Height() const override { return dib_.Height(); }
    const TDIB* PixelRaster() const override { return &dib_; }
    bool IsBitmap() const override { return true; }
    // The BMP reader (".bmp", ".dib", ".rle").
    void LoadFromMemory(const uint8_t* data, size_t size) override;

    TDIB& Dib() { return dib_; }
    const TDIB& Dib() const { return dib_; }
    // Makes the bitmap 24 bits per pixel; an empty bitmap stays empty.
    void SetPixelFormat24();
    // Shares the other bitmap's pixels.
    void Assign(const TBitmap& other) { dib_ = other.dib_; }
    // How the stored pixels must be turned to be seen upright (Exif 1 to 8);
    // LoadPicture turns them and sets it back to 1.
    int StoredOrientation() const { return orientation_; }
    void SetStoredOrientation(int orientation) { orientation_ = orientation; }

protected:
    TDIB dib_;
    int orientation_ = 1;
};

class TPicture {
public:
    TPicture();
    ~TPicture();
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    TGraphic* Graphic() const { return graphic_.get(); }
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    /// Hands the graphic over and leaves the picture without one.
    std::unique_ptr<TGraphic> TakeGraphic() { return std::move(graphic_); }
    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }
    // Keeps the graphic when it is a bitmap; anything else is replaced by a
    // new empty bitmap.
    TBitmap& Bitmap();
    // Replaces the graphic by the file's, chosen by extension; on failure the
    // picture keeps its previous graphic.
    void LoadFromFile(const std::string& fileName);

private:
    std::unique_ptr<TGraphic> graphic_;
};

// Loads the file into the picture as a 24-bit bitmap, or raises. Icons and
// metafiles end as an empty bitmap. The picture changes only when everything
// succeeded, so after any error it still holds its previous graphic.
void LoadPicture(const std::string& fileName, TPicture& picture);

// LoadPicture for a picture that will be shrunk to width × height: a JPEG is
// decoded at the smallest DCT scale whose upright picture still covers that
// size, so no more pixels are decoded than the shrinking can use. Every
// other format loads as LoadPicture loads it.
void LoadPictureCovering(const std::string& fileName, TPicture& picture, int width, int height);

// The width × height nearest-pixel sample of the picture LoadPicture would
// give, stretched over the whole sample (black when that picture has no
// pixels). False, and no sample, when that picture is 0 pixels wide. For a
// colour JPEG only the rows the sample takes are decoded; the pixels are the
// same.
bool LoadPictureSample(const std::string& fileName, int width, int height, TDIB& sample);
/// The same, and also the upright picture LoadPictureCovering would give for
/// coverWidth × coverHeight, where the same decoding yields it: always for
/// formats decoded whole, for a JPEG when that size needs its 1/8 scale.
/// covering is left empty where it does not.
bool LoadPictureSample(const std::string& fileName, int width, int height, TDIB& sample, int coverWidth,
                       int coverHeight, TDIB& covering);

}  // namespace tsx
