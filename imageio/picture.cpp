#include "imageio/picture.h"

#include <algorithm>

#include "imageio/exif.h"
#include "imageio/formats.h"
#include "imageio/graphics.h"
#include "raster/byte_io.h"
#include "raster/dib_format.h"
#include "raster/errors.h"

namespace tsx {

void TBitmap::LoadFromMemory(const uint8_t* data, size_t size)
{
    if (size == 0) {
        dib_.MakeEmpty();
        return;
    }
    ByteReader r(data, size);
    const std::span<const uint8_t> fileHeader = r.take(14);
    // the rest of the file header (sizes, pixel offset) is not trusted: the
    // rows are read right after the colour table
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M')
        throw EInvalidGraphic(msg::kBitmapInvalid);
    readDibBody(r, dib_, DibReadRules{true, kMaxBitmapPixels});
}

void TBitmap::SetPixelFormat24()
{
    if (!dib_.IsEmpty() && dib_.BitCount() != 24)
        dib_.ChangeBitCount(24);
}

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) { graphic_ = std::move(graphic); }

TBitmap& TPicture::Bitmap()
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(graphic_.get()))
        return *bitmap;
    graphic_ = std::make_unique<TBitmap>();
    return static_cast<TBitmap&>(*graphic_);
}

void TPicture::LoadFromFile(const std::string& fileName)
{
    const std::string extension = extractExtension(fileName);
    const TFileFormat* format = fileFormats().Find(extension);
    if (!format)
        throw EInvalidGraphic(formatMessage(msg::kUnknownExtension, extension.c_str()));
    std::unique_ptr<TGraphic> graphic = format->create();
    graphic->LoadFromFile(fileName);
    graphic_ = std::move(graphic);
}

namespace {

// The second half of LoadPicture, on a picture just read from its file: a
// JPEG decoded (at the scale that covers the size, when one is given), the
// bitmap made 24 bits and turned upright.
void finishPicture(TPicture& staged, int coverWidth, int coverHeight)
{
    int orientation = 1;
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(staged.Graphic())) {
        auto bitmap = std::make_unique<TBitmap>();
        jpeg->DecodeInto(*bitmap, coverWidth > 0 ? jpeg->CoveringScale(coverWidth, coverHeight) : 8);
        orientation = jpeg->StoredOrientation();
        staged.SetGraphic(std::move(bitmap));
    } else if (const auto* stored = dynamic_cast<const TBitmap*>(staged.Graphic())) {
        orientation = stored->StoredOrientation();
    }
    TBitmap& bitmap = staged.Bitmap();
    bitmap.SetPixelFormat24();
    // cameras store pictures as the sensor saw them; everyone after us gets
    // them upright
    if (orientation != 1) {
        bitmap.Dib() = orientRaster(bitmap.Dib(), orientation);
        bitmap.SetStoredOrientation(1);
    }
}

void loadPictureCovering(const std::string& fileName, TPicture& picture, int coverWidth, int coverHeight)
{
    // everything happens on a picture of our own, so that a decoding or
    // conversion error cannot leave the caller's picture half-replaced
    TPicture staged;
    staged.LoadFromFile(fileName);
    finishPicture(staged, coverWidth, coverHeight);
    picture.SetGraphic(staged.TakeGraphic());
}

}  // namespace

void LoadPicture(const std::string& fileName, TPicture& picture) { loadPictureCovering(fileName, picture, 0, 0); }

void LoadPictureCovering(const std::string& fileName, TPicture& picture, int width, int height)
{
    loadPictureCovering(fileName, picture, std::max(width, 1), std::max(height, 1));
}

bool LoadPictureSample(const std::string& fileName, int width, int height, TDIB& sample)
{
    TDIB none;
    return LoadPictureSample(fileName, width, height, sample, 0, 0, none);
}

bool LoadPictureSample(const std::string& fileName, int width, int height, TDIB& sample, int coverWidth,
                       int coverHeight, TDIB& covering)
{
    covering.MakeEmpty();
    const bool wantsCovering = coverWidth > 0 && coverHeight > 0;
    TPicture staged;
    staged.LoadFromFile(fileName);
    bool decodedWhole = true;
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(staged.Graphic())) {
        if (jpeg->Width() == 0)
            return false;
        const int scale = wantsCovering ? jpeg->CoveringScale(coverWidth, coverHeight) : 8;
        TDIB eighth;
        if (jpeg->SampleInto(sample, width, height, scale == 1 ? &eighth : nullptr)) {
            if (!eighth.IsEmpty()) {
                const int orientation = jpeg->StoredOrientation();
                covering = orientation == 1 ? eighth : orientRaster(eighth, orientation);
            }
            return true;
        }
        decodedWhole = scale == 8;
    }
    finishPicture(staged, 0, 0);
    if (staged.Width() == 0)
        return false;
    if (wantsCovering && decodedWhole)
        covering = staged.Bitmap().Dib();
    TDIB result;
    result.Allocate(width, height, 24);
    if (!staged.Graphic()->Empty())
        result.Canvas().StretchDraw(TRect{0, 0, width, height}, *staged.Graphic());
    sample = result;
    return true;
}

}  // namespace tsx
