// TDIB: the raster of the whole program. Rows are stored bottom-up as in a
// BMP file, storage is shared between copies and copied on the first write.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tsx {

class TCanvas;
class TDIB;

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int width() const { return Right - Left; }
    int height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};

struct TRGBQuad {
    uint8_t rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
    bool operator==(const TRGBQuad&) const = default;
};
using TColorTable = std::array<TRGBQuad, 256>;

// How 16- and 32-bit pixels pack their colour.
struct TPixelFormat {
    uint32_t RBitMask = 0x00FF0000, GBitMask = 0x0000FF00, BBitMask = 0x000000FF;
    int RBitCount = 8, GBitCount = 8, BBitCount = 8;
    // Masks from bit widths: red above green above blue.
    static TPixelFormat fromBitCounts(int r, int g, int b);
    static TPixelFormat rgb888() { return fromBitCounts(8, 8, 8); }
    static TPixelFormat rgb555() { return fromBitCounts(5, 5, 5); }
    static TPixelFormat rgb565() { return fromBitCounts(5, 6, 5); }
    bool operator==(const TPixelFormat&) const = default;
};

// The common base of everything a picture container can hold.
class TGraphic {
public:
    virtual ~TGraphic() = default;
    virtual const char* ClassName() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const { return Width() == 0 || Height() == 0; }
    // The pixels of this graphic as a raster, when it has any (a TDIB is its
    // own raster, a bitmap holds one); null for graphics we cannot draw.
    virtual const TDIB* PixelRaster() const { return nullptr; }
    /// True for bitmaps (TBitmap and the decoder classes derived from it).
    virtual bool IsBitmap() const { return false; }
    // Reads the graphic from a file. The default reads the whole file and
    // hands it to LoadFromMemory; "Cannot open file %s" when it cannot.
    virtual void LoadFromFile(const std::string& fileName);
    // Reads the graphic from the bytes of a whole file.
    virtual void LoadFromMemory(const uint8_t* data, size_t size) = 0;
};

class TDIBSharedImage;

class TDIB : public TGraphic {
public:
    TDIB();
    TDIB(const TDIB& other);             // shares the storage
    TDIB& operator=(const TDIB& other);  // shares the storage
    TDIB(TDIB&& other) noexcept;
    TDIB& operator=(TDIB&& other) noexcept;
    ~TDIB() override;

    const char* ClassName() const override { return "TDIB"; }
    int Width() const override;
    int Height() const override;
    const TDIB* PixelRaster() const override { return this; }
    // The BMP file form (file header then stored form).
    void LoadFromMemory(const uint8_t* data, size_t size) override;

    int BitCount() const;
    int WidthBytes() const;
    int64_t Size() const;  // WidthBytes × Height; 0 exactly when empty
    bool IsEmpty() const { return Size() == 0; }
    static int widthBytesFor(int width, int bitCount);

    TColorTable& ColorTable() { return colorTable_; }
    const TColorTable& ColorTable() const { return colorTable_; }
    const TPixelFormat& PixelFormat() const { return pixelFormat_; }
    void SetPixelFormat(const TPixelFormat& pf) { pixelFormat_ = pf; }
    int PaletteCount() const { return BitCount() > 0 && BitCount() <= 8 ? 1 << BitCount() : 0; }

    void Allocate(int width, int height, int bitCount);
    void ChangeBitCount(int bitCount);
    // Row y (0 = top) for reading and writing; makes shared storage private first.
    uint8_t* RowPointer(int y);
    // Row y for reading only: never copies, so readers on another thread and
    // rasters that merely show pixels do not unshare storage.
    const uint8_t* ScanLine(int y) const;
    TCanvas& Canvas();
    void PrepareForDrawing();

    void AssignFrom(const TDIB* source);
    void AssignFrom(const TGraphic* source);
    void MakeEmpty();
    // Draws the whole raster stretched into rect of another canvas, nearest-pixel.
    void DrawTo(TCanvas& surface, const TRect& rect) const;

    // BMP file: written to a temporary name beside the target, then renamed,
    // so a failed write never destroys an existing file. Rows are streamed.
    void WriteBmp(const std::string& fileName) const;
    // The stored form (header block then rows) and the BMP form.
    std::vector<uint8_t> SaveStoredForm() const;
    void LoadStoredForm(const uint8_t* data, size_t size);
    void LoadBmpForm(const uint8_t* data, size_t size);

    // Effects (work in place, through RowPointer).
    void Greyscale(int bitCount);
    void Mirror(bool mirrorX, bool mirrorY);

    bool SharesStorageWith(const TDIB& other) const;

private:
    void makeWritable();
    std::shared_ptr<TDIBSharedImage> image_;
    TColorTable colorTable_;
    TPixelFormat pixelFormat_;
    std::unique_ptr<TCanvas> canvas_;
};

// The stored form of the main window's blank raster: 24 × 24 silver pixels.
const std::vector<uint8_t>& blankRasterStoredForm();
TDIB blankRaster();

enum class TStretchMode { NearestPixel, AreaAverage };

// The drawing surface of a raster. Only what the program draws with exists.
class TCanvas {
public:
    explicit TCanvas(TDIB& target) : target_(&target) {}
    TStretchMode StretchMode() const { return mode_; }
    void SetStretchMode(TStretchMode mode) { mode_ = mode; }
    TRect ClipRect() const;
    // A graphic at its natural size at (x, y).
    void Draw(int x, int y, const TGraphic& graphic);
    // A graphic stretched into rect; selects nearest-pixel first and keeps it.
    void StretchDraw(const TRect& rect, const TGraphic& graphic);
    // A rectangle of another raster into dest, in the current stretch mode.
    void CopyRect(const TRect& dest, const TDIB& source, const TRect& sourceRect);
    TDIB& target() { return *target_; }

private:
    TDIB* target_;
    TStretchMode mode_ = TStretchMode::NearestPixel;
};

// The two stretch filters on 24-bit rasters, clipped to the target.
// Nearest-pixel: target pixel x takes source pixel sx0 + (x * sw) / dw (per
// axis, relative to the rectangles), so samples spread evenly: 32 columns
// into 16 take columns 0, 2, ..., 30. Rows and columns are repeated or
// dropped, never averaged.
void stretchNearest(const TDIB& src, const TRect& srcRect, TDIB& dst, const TRect& dstRect);
// Area averaging: each target pixel is the exact mean (rounded to nearest) of
// the source area it covers, partly covered source pixels weighted by the
// covered fraction. The same rule enlarges: a target pixel inside one source
// pixel copies it, one straddling two blends them by coverage.
// Source coordinates outside the source raster take its nearest edge pixel;
// empty rectangles draw nothing; other bit counts are converted to 24 first.
void stretchAreaAverage(const TDIB& src, const TRect& srcRect, TDIB& dst, const TRect& dstRect);

}  // namespace tsx
