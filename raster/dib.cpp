#include "raster/dib.h"

#include <algorithm>
#include <iterator>
#include <sys/mman.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <utility>

#include "raster/byte_io.h"
#include "raster/dib_format.h"
#include "raster/errors.h"

namespace tsx {

namespace {

// Large pixel blocks come straight from the kernel, already zero, and ask for
// huge pages: a decoded photo or a mosaic then costs a few hundred page
// faults instead of tens of thousands.
constexpr size_t kMappedPixelBytes = size_t(2) << 20;

uint8_t* allocatePixels(size_t size)
{
    if (size < kMappedPixelBytes)
        return static_cast<uint8_t*>(std::calloc(size, 1));
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    ::madvise(p, size, MADV_HUGEPAGE);
    return static_cast<uint8_t*>(p);
}

void freePixels(uint8_t* pixels, size_t size)
{
    if (!pixels)
        return;
    if (size < kMappedPixelBytes)
        std::free(pixels);
    else
        ::munmap(pixels, size);
}

}  // namespace

// The pixels of one or more rasters. Rows are one zeroed block, bottom row
// first, so a fresh raster of any size costs no time to zero and the block can
// be written to a BMP file as it is.
class TDIBSharedImage {
public:
    TDIBSharedImage() = default;
    ~TDIBSharedImage() { freePixels(pixels, size_t(size)); }
    TDIBSharedImage(const TDIBSharedImage&) = delete;
    TDIBSharedImage& operator=(const TDIBSharedImage&) = delete;

    uint8_t* topRow() const { return pixels + int64_t(height - 1) * widthBytes; }

    int width = 0;
    int height = 0;
    int bitCount = 0;
    int widthBytes = 0;
    int64_t size = 0;
    TPixelFormat pixelFormat;  // the masks the pixels were made with
    uint8_t* pixels = nullptr;
};

namespace {

const std::shared_ptr<TDIBSharedImage>& emptyImage()
{
    static const std::shared_ptr<TDIBSharedImage> empty = std::make_shared<TDIBSharedImage>();
    return empty;
}

bool validBitCount(int bitCount)
{
    return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

bool allowedMasks(int bitCount, const TPixelFormat& pf)
{
    if (bitCount == 16)
        return pf == TPixelFormat::rgb555() || pf == TPixelFormat::rgb565();
    return pf == TPixelFormat::rgb888();
}

int64_t widthBytes64(int width, int bitCount)
{
    return (int64_t(bitCount) * width + 31) / 32 * 4;
}

[[noreturn]] void cannotBeMade()
{
    throw EOutOfResources(formatMessage(msg::kCannotBeMade, "DIB"));
}

std::shared_ptr<TDIBSharedImage> newImage(int width, int height, int bitCount, const TPixelFormat& pf)
{
    const int64_t rowBytes = widthBytes64(width, bitCount);
    if (rowBytes > INT_MAX || rowBytes > INT64_MAX / height)
        cannotBeMade();
    const int64_t size = rowBytes * height;
    if (uint64_t(size) > SIZE_MAX)
        cannotBeMade();
    std::shared_ptr<TDIBSharedImage> image;
    try {
        image = std::make_shared<TDIBSharedImage>();
    } catch (const std::bad_alloc&) {
        cannotBeMade();
    }
    image->pixels = allocatePixels(size_t(size));
    if (!image->pixels)
        cannotBeMade();
    image->width = width;
    image->height = height;
    image->bitCount = bitCount;
    image->widthBytes = int(rowBytes);
    image->size = size;
    image->pixelFormat = pf;
    return image;
}

TColorTable greyRamp()
{
    TColorTable table;
    for (int i = 0; i < 256; ++i)
        table[size_t(i)] = TRGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return table;
}

// Nearest entry of the first `count` colours, by the sum of channel distances.
class PaletteMatcher {
public:
    PaletteMatcher(const TColorTable& table, int count) : m_table(table), m_count(count) {}
    uint8_t match(uint8_t r, uint8_t g, uint8_t b)
    {
        const uint32_t key = uint32_t(r) << 16 | uint32_t(g) << 8 | b;
        if (auto it = m_cache.find(key); it != m_cache.end())
            return it->second;
        int best = 0, bestDistance = INT_MAX;
        for (int i = 0; i < m_count; ++i) {
            const TRGBQuad& q = m_table[size_t(i)];
            const int d = std::abs(q.rgbRed - r) + std::abs(q.rgbGreen - g) + std::abs(q.rgbBlue - b);
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
        }
        m_cache.emplace(key, uint8_t(best));
        return uint8_t(best);
    }

private:
    const TColorTable& m_table;
    int m_count;
    std::unordered_map<uint32_t, uint8_t> m_cache;
};

// One row of 24-bit pixels packed into the target bit count.
void encodeRowFrom24(const uint8_t* src, int width, int bitCount, const TPixelFormat& pf,
                     PaletteMatcher* palette, uint8_t* dst)
{
    for (int x = 0; x < width; ++x) {
        const uint8_t b = src[3 * x], g = src[3 * x + 1], r = src[3 * x + 2];
        switch (bitCount) {
        case 32:
            dst[4 * x] = b;
            dst[4 * x + 1] = g;
            dst[4 * x + 2] = r;
            dst[4 * x + 3] = 0;
            break;
        case 16: {
            const uint32_t v = uint32_t(r >> (8 - pf.RBitCount)) << (pf.GBitCount + pf.BBitCount)
                | uint32_t(g >> (8 - pf.GBitCount)) << pf.BBitCount | uint32_t(b >> (8 - pf.BBitCount));
            dst[2 * x] = uint8_t(v);
            dst[2 * x + 1] = uint8_t(v >> 8);
            break;
        }
        case 8:
            dst[x] = palette->match(r, g, b);
            break;
        case 4: {
            const uint8_t i = palette->match(r, g, b);
            dst[x / 2] = (x & 1) ? uint8_t((dst[x / 2] & 0xF0) | i) : uint8_t((dst[x / 2] & 0x0F) | i << 4);
            break;
        }
        case 1: {
            const uint8_t bit = uint8_t(0x80 >> (x & 7));
            if (palette->match(r, g, b))
                dst[x / 8] |= bit;
            else
                dst[x / 8] &= uint8_t(~bit);
            break;
        }
        }
    }
}

}  // namespace

TPixelFormat TPixelFormat::fromBitCounts(int r, int g, int b)
{
    TPixelFormat pf;
    pf.RBitCount = r;
    pf.GBitCount = g;
    pf.BBitCount = b;
    pf.RBitMask = ((uint32_t(1) << r) - 1) << (g + b);
    pf.GBitMask = ((uint32_t(1) << g) - 1) << b;
    pf.BBitMask = (uint32_t(1) << b) - 1;
    return pf;
}

void TGraphic::LoadFromFile(const std::string& fileName)
{
    const std::vector<uint8_t> bytes = readWholeFile(fileName);
    LoadFromMemory(bytes.data(), bytes.size());
}

TDIB::TDIB() : image_(emptyImage()), colorTable_(greyRamp()) {}

TDIB::TDIB(const TDIB& other)
    : image_(other.image_), colorTable_(other.colorTable_), pixelFormat_(other.pixelFormat_)
{
}

TDIB& TDIB::operator=(const TDIB& other)
{
    if (this != &other) {
        image_ = other.image_;
        colorTable_ = other.colorTable_;
        pixelFormat_ = other.pixelFormat_;
    }
    return *this;
}

// The canvas stays with the object it was made for; a moved-from raster is empty.
TDIB::TDIB(TDIB&& other) noexcept
    : image_(std::exchange(other.image_, emptyImage())), colorTable_(other.colorTable_),
      pixelFormat_(other.pixelFormat_)
{
}

TDIB& TDIB::operator=(TDIB&& other) noexcept
{
    if (this != &other) {
        image_ = std::exchange(other.image_, emptyImage());
        colorTable_ = other.colorTable_;
        pixelFormat_ = other.pixelFormat_;
    }
    return *this;
}

TDIB::~TDIB() = default;

int TDIB::Width() const { return image_->width; }
int TDIB::Height() const { return image_->height; }
int TDIB::BitCount() const { return image_->bitCount; }
int TDIB::WidthBytes() const { return image_->widthBytes; }
int64_t TDIB::Size() const { return image_->size; }

int TDIB::widthBytesFor(int width, int bitCount)
{
    const int64_t n = widthBytes64(width, bitCount);
    return n > INT_MAX ? INT_MAX : int(n);
}

void TDIB::Allocate(int width, int height, int bitCount)
{
    if (width == Width() && height == Height() && bitCount == BitCount() && !IsEmpty()
        && pixelFormat_ == image_->pixelFormat)
        return;
    if (width <= 0 || height <= 0) {
        MakeEmpty();
        return;
    }
    if (!validBitCount(bitCount))
        throw EInvalidGraphicOperation(formatMessage(msg::kBitCountInvalid, bitCount));
    if (!allowedMasks(bitCount, pixelFormat_))
        throw EInvalidGraphicOperation(msg::kPixelFormatInvalid);
    image_ = newImage(width, height, bitCount, pixelFormat_);
}

void TDIB::ChangeBitCount(int bitCount)
{
    if (bitCount <= 0) {
        MakeEmpty();
        return;
    }
    if (!validBitCount(bitCount))
        throw EInvalidGraphicOperation(formatMessage(msg::kBitCountInvalid, bitCount));
    // the masks follow the bit count; 16 bits default to 5-5-5
    TPixelFormat targetFormat = pixelFormat_;
    if (!allowedMasks(bitCount, targetFormat))
        targetFormat = bitCount == 16 ? TPixelFormat::rgb555() : TPixelFormat::rgb888();
    if (IsEmpty()) {
        pixelFormat_ = targetFormat;
        Allocate(std::max(Width(), 1), std::max(Height(), 1), bitCount);
        return;
    }
    if (bitCount == BitCount())
        return;

    const int w = Width(), h = Height();
    std::shared_ptr<TDIBSharedImage> target = newImage(w, h, bitCount, targetFormat);
    std::vector<uint8_t> row24;
    try {
        row24.resize(size_t(w) * 3);
    } catch (const std::bad_alloc&) {
        cannotBeMade();
    }
    PaletteMatcher palette(colorTable_, bitCount <= 8 ? 1 << bitCount : 0);
    for (int y = 0; y < h; ++y) {
        uint8_t* out = target->topRow() - int64_t(y) * target->widthBytes;
        if (BitCount() == 24) {
            encodeRowFrom24(ScanLine(y), w, bitCount, targetFormat, &palette, out);
        } else {
            decodeRowTo24(ScanLine(y), w, BitCount(), colorTable_, pixelFormat_, row24.data());
            if (bitCount == 24)
                std::memcpy(out, row24.data(), row24.size());
            else
                encodeRowFrom24(row24.data(), w, bitCount, targetFormat, &palette, out);
        }
    }
    image_ = std::move(target);
    pixelFormat_ = targetFormat;
}

uint8_t* TDIB::RowPointer(int y)
{
    if (y < 0 || y >= Height())
        throw EInvalidGraphicOperation(formatMessage(msg::kScanLineRange, y));
    makeWritable();
    return image_->topRow() - int64_t(y) * image_->widthBytes;
}

const uint8_t* TDIB::ScanLine(int y) const
{
    if (y < 0 || y >= Height())
        throw EInvalidGraphicOperation(formatMessage(msg::kScanLineRange, y));
    return image_->topRow() - int64_t(y) * image_->widthBytes;
}

void TDIB::makeWritable()
{
    if (image_.use_count() <= 1 || IsEmpty())
        return;
    std::shared_ptr<TDIBSharedImage> copy
        = newImage(image_->width, image_->height, image_->bitCount, image_->pixelFormat);
    std::memcpy(copy->pixels, image_->pixels, size_t(image_->size));
    image_ = std::move(copy);
}

TCanvas& TDIB::Canvas()
{
    if (!canvas_) {
        PrepareForDrawing();
        canvas_ = std::make_unique<TCanvas>(*this);
    }
    return *canvas_;
}

// Our canvas draws on plain memory, so every storage is drawable already.
void TDIB::PrepareForDrawing() {}

void TDIB::AssignFrom(const TDIB* source)
{
    if (!source) {
        MakeEmpty();
        return;
    }
    *this = *source;
}

void TDIB::AssignFrom(const TGraphic* source)
{
    if (!source) {
        MakeEmpty();
        return;
    }
    if (const auto* dib = dynamic_cast<const TDIB*>(source)) {
        AssignFrom(dib);
        return;
    }
    const TDIB* pixels = source->PixelRaster();
    if (source->IsBitmap()) {
        // drawing a bitmap at its own size over a zeroed raster of its own
        // format gives its pixels exactly: share them instead of copying
        if (pixels && !pixels->IsEmpty())
            AssignFrom(pixels);
        return;
    }
    TDIB result;
    result.Allocate(source->Width(), source->Height(), 24);
    if (pixels && !result.IsEmpty())
        result.Canvas().Draw(0, 0, *source);
    image_ = std::move(result.image_);
    pixelFormat_ = TPixelFormat::rgb888();
}

void TDIB::MakeEmpty() { image_ = emptyImage(); }

void TDIB::DrawTo(TCanvas& surface, const TRect& rect) const
{
    if (IsEmpty())
        return;
    const TStretchMode previous = surface.StretchMode();
    surface.SetStretchMode(TStretchMode::NearestPixel);
    stretchNearest(*this, TRect{0, 0, Width(), Height()}, surface.target(), rect);
    surface.SetStretchMode(previous);
}

std::vector<uint8_t> dibHeaderBlock(const TDIB& dib)
{
    std::vector<uint8_t> out;
    ByteWriter w(out);
    const bool masks = dib.BitCount() == 16 || dib.BitCount() == 32;
    w.u32le(40);
    w.i32le(dib.Width());
    w.i32le(dib.Height());
    w.u16le(1);
    w.u16le(uint16_t(dib.BitCount()));
    w.u32le(masks ? 3 : 0);
    w.u32le(uint32_t(dib.Size()));
    w.zeros(16);
    if (masks) {
        w.u32le(dib.PixelFormat().RBitMask);
        w.u32le(dib.PixelFormat().GBitMask);
        w.u32le(dib.PixelFormat().BBitMask);
    }
    for (int i = 0; i < dib.PaletteCount(); ++i) {
        const TRGBQuad& q = dib.ColorTable()[size_t(i)];
        w.u8(q.rgbBlue);
        w.u8(q.rgbGreen);
        w.u8(q.rgbRed);
        w.u8(0);
    }
    return out;
}

void TDIB::WriteBmp(const std::string& fileName) const
{
    const std::vector<uint8_t> block = IsEmpty() ? std::vector<uint8_t>() : dibHeaderBlock(*this);
    // the file header counts in 32 bits: a larger file could only be written
    // with sizes that lie, so none is started
    if (14 + block.size() + uint64_t(Size()) > UINT32_MAX)
        throw EFCreateError(formatMessage(msg::kCannotCreate, fileName.c_str()));
    AtomicFileWriter file(fileName);
    if (!IsEmpty()) {
        std::vector<uint8_t> head;
        ByteWriter w(head);
        w.u8('B');
        w.u8('M');
        w.u32le(uint32_t(14 + block.size() + uint64_t(Size())));
        w.u32le(0);
        w.u32le(uint32_t(14 + block.size()));
        w.bytes(block.data(), block.size());
        file.write(head.data(), head.size());
        // storage order is file order: the rows go out straight from the pixels
        constexpr size_t kChunkBytes = size_t(8) << 20;
        const uint8_t* p = image_->pixels;
        for (size_t left = size_t(Size()); left > 0;) {
            const size_t n = std::min(left, kChunkBytes);
            file.write(p, n);
            p += n;
            left -= n;
        }
    }
    file.commit();
}

std::vector<uint8_t> TDIB::SaveStoredForm() const
{
    std::vector<uint8_t> out;
    if (IsEmpty())
        return out;
    out = dibHeaderBlock(*this);
    out.insert(out.end(), image_->pixels, image_->pixels + Size());
    return out;
}

void TDIB::LoadStoredForm(const uint8_t* data, size_t size)
{
    if (size == 0) {
        MakeEmpty();
        return;
    }
    ByteReader r(data, size);
    readDibBody(r, *this, DibReadRules{});
}

void TDIB::LoadBmpForm(const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    if (size < 14 || data[0] != 'B' || data[1] != 'M')
        throw EInvalidGraphic(msg::kDIBInvalid);
    ByteReader r(data, size);
    r.skip(14);
    readDibBody(r, *this, DibReadRules{});
}

void TDIB::LoadFromMemory(const uint8_t* data, size_t size) { LoadBmpForm(data, size); }

bool TDIB::SharesStorageWith(const TDIB& other) const { return image_ == other.image_; }

const std::vector<uint8_t>& blankRasterStoredForm()
{
    static const std::vector<uint8_t> form = [] {
        // info header: 24 × 24, 1 plane, 24 bits, uncompressed, 1,728 bytes of rows
        static constexpr uint8_t header[40] = {
            0x28, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x01, 0x00,
            0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        };
        std::vector<uint8_t> bytes(sizeof header + 24 * 72, 0xC0);  // silver: blue, green, red all 192
        std::copy(std::begin(header), std::end(header), bytes.begin());
        return bytes;
    }();
    return form;
}

TDIB blankRaster()
{
    TDIB dib;
    const auto& form = blankRasterStoredForm();
    dib.LoadStoredForm(form.data(), form.size());
    return dib;
}

}  // namespace tsx
