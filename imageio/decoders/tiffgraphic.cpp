#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "imageio/decoders/decode_support.h"
#include "imageio/decoders/decoder.h"
#include "imageio/decoders/graphics.h"
#include "raster/byte_io.h"

namespace tsx {

namespace {
constexpr const char* kInvalidTIFF = "Invalid TIFF file.";
constexpr const char* kUnknownCompression = "TIFF: Unknown compression scheme";
constexpr const char* kUnsupportedLayout = "TIFF: unsupported pixel layout";

enum Tag : uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kStripOffsets = 273,
    kOrientation = 274,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPredictor = 317,
    kColorMap = 320,
    kPlanarConfiguration = 284,
    kExtraSamples = 338,
};

enum Compression { kNone = 1, kLZW = 5, kPackBits = 32773 };
constexpr int kPackBitsBestRatio = 64;  // two bytes make at most 128
constexpr int kMaxPlanes = 8;

enum class Layout { Indexed, Grey, RGB, RGBA, Lab, CMYK };

struct Entry {
    uint16_t tag = 0, type = 0;
    uint32_t count = 0;
    size_t valuePos = 0;  // where the values start in the file
};

// The first image directory. Values are read through their own reader so
// that a bad offset ends in a stream read error, never a read past the end.
class Directory {
public:
    Directory(std::span<const uint8_t> file, bool bigEndian) : m_file(file), m_bigEndian(bigEndian) {}

    void read(size_t offset)
    {
        ByteReader r(m_file);
        r.seek(offset);
        const int count = u16(r);
        r.need(size_t(count) * 12);
        for (int i = 0; i < count; ++i) {
            Entry e;
            e.tag = u16(r);
            e.type = u16(r);
            e.count = u32(r);
            const uint64_t bytes = uint64_t(typeBytes(e.type)) * e.count;
            const size_t inlinePos = r.pos();
            const uint32_t valueOffset = u32(r);
            e.valuePos = bytes <= 4 ? inlinePos : valueOffset;
            m_entries.push_back(e);
        }
    }

    const Entry* find(uint16_t tag) const
    {
        for (const Entry& e : m_entries)
            if (e.tag == tag)
                return &e;
        return nullptr;
    }

    uint32_t value(const Entry& e, uint32_t index) const
    {
        const size_t size = typeBytes(e.type);
        if (size == 0 || index >= e.count)
            throw EReadError(msg::kStreamRead);
        ByteReader r(m_file);
        r.seek(e.valuePos);
        r.skip(size_t(index) * size);
        switch (e.type) {
        case 3:
        case 8: return u16(r);
        case 4:
        case 9:
        case 5:
        case 10: return u32(r);  // rationals: the numerator
        default: return r.u8();
        }
    }

    uint32_t value(uint16_t tag, uint32_t fallback) const
    {
        const Entry* e = find(tag);
        return e && e->count > 0 ? value(*e, 0) : fallback;
    }

    uint16_t u16(ByteReader& r) const { return m_bigEndian ? r.u16be() : r.u16le(); }
    uint32_t u32(ByteReader& r) const { return m_bigEndian ? r.u32be() : r.u32le(); }

private:
    static size_t typeBytes(uint16_t type)
    {
        static const uint8_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
        return type < sizeof sizes ? sizes[type] : 0;
    }

    std::span<const uint8_t> m_file;
    bool m_bigEndian;
    std::vector<Entry> m_entries;
};

struct Format {
    Layout layout = Layout::Indexed;
    int bitsPerSample = 8;
    int samplesPerPixel = 1;
    int bitCount = 8;  // of the raster we fill
    bool bigEndian = false;
};

Format chooseFormat(const Directory& dir, bool bigEndian)
{
    Format f;
    f.bigEndian = bigEndian;
    f.bitsPerSample = int(dir.value(kBitsPerSample, 1));
    f.samplesPerPixel = int(dir.value(kSamplesPerPixel, 1));
    const Entry* extra = dir.find(kExtraSamples);
    const int64_t colourSamples = int64_t(f.samplesPerPixel) - (extra ? int64_t(extra->count) : 0);
    const int photometric = int(dir.value(kPhotometric, colourSamples >= 3 ? 2 : 1));
    const int bps = f.bitsPerSample;
    const bool wide = bps == 8 || bps == 16;
    if (f.samplesPerPixel < 1)
        decode::fail(kUnsupportedLayout);

    if (colourSamples == 1) {
        if ((bps == 1 || bps == 4) && f.samplesPerPixel == 1) {
            f.bitCount = bps;
        } else if (wide) {
            f.bitCount = 8;
        } else {
            decode::fail(kUnsupportedLayout);
        }
        f.layout = (bps == 16 || f.samplesPerPixel > 1) ? Layout::Grey : Layout::Indexed;
        return f;
    }
    if (!wide)
        decode::fail(kUnsupportedLayout);
    if (colourSamples == 3 && (photometric == 2 || photometric == 6)) {
        // YCbCr samples go out unchanged, in the places of red, green and blue
        const bool alpha = photometric == 2 && extra && extra->count > 0;
        f.layout = alpha ? Layout::RGBA : Layout::RGB;
        f.bitCount = alpha ? 32 : 24;
    } else if (colourSamples == 3 && photometric == 8) {
        f.layout = Layout::Lab;
        f.bitCount = 24;
    } else if (colourSamples == 4 && photometric == 2) {
        f.layout = Layout::RGBA;
        f.bitCount = 32;
    } else if (colourSamples == 4 && photometric == 5) {
        f.layout = Layout::CMYK;
        f.bitCount = 24;
    } else {
        decode::fail(kUnsupportedLayout);
    }
    return f;
}

void setPalette(const Directory& dir, const Format& f, TColorTable& table)
{
    const int photometric = int(dir.value(kPhotometric, 1));
    const int bits = f.bitCount;
    if (photometric == 0) {
        decode::setGreyRamp(table, bits, true);
        return;
    }
    const Entry* map = dir.find(kColorMap);
    const int entries = 1 << f.bitsPerSample;
    if (photometric != 3 || !map || f.bitsPerSample > 8 || map->count < uint32_t(3 * entries)) {
        decode::setGreyRamp(table, bits);
        return;
    }
    table.fill(TRGBQuad{});
    for (int i = 0; i < entries; ++i) {
        // 16-bit map entries: the high byte is the colour
        const uint8_t red = uint8_t(dir.value(*map, uint32_t(i)) >> 8);
        const uint8_t green = uint8_t(dir.value(*map, uint32_t(entries + i)) >> 8);
        const uint8_t blue = uint8_t(dir.value(*map, uint32_t(2 * entries + i)) >> 8);
        table[size_t(i)] = TRGBQuad{blue, green, red, 0};
    }
}

// Horizontal differencing undone: each sample plus the same sample of the
// pixel to its left.
void undoPredictor(uint8_t* row, size_t rowBytes, const Format& f)
{
    const size_t spp = size_t(f.samplesPerPixel);
    if (f.bitsPerSample == 8) {
        for (size_t i = spp; i < rowBytes; ++i)
            row[i] = uint8_t(row[i] + row[i - spp]);
    } else if (f.bitsPerSample == 16) {
        const size_t samples = rowBytes / 2;
        const int hi = f.bigEndian ? 0 : 1;
        for (size_t i = spp; i < samples; ++i) {
            uint8_t* cur = row + 2 * i;
            const uint8_t* left = row + 2 * (i - spp);
            const int sum = ((cur[hi] << 8 | cur[1 - hi]) + (left[hi] << 8 | left[1 - hi])) & 0xFFFF;
            cur[hi] = uint8_t(sum >> 8);
            cur[1 - hi] = uint8_t(sum);
        }
    }
}

template <int SampleBytes>
void convertRow(const uint8_t* in, uint8_t* out, int width, const Format& f)
{
    const size_t spp = size_t(f.samplesPerPixel);
    // the byte of a sample we keep: its high byte for 16-bit samples
    const size_t hi = SampleBytes == 2 && !f.bigEndian ? 1 : 0;
    auto sample = [&](size_t x, size_t i) { return in[(x * spp + i) * SampleBytes + hi]; };
    const size_t w = size_t(width);
    switch (f.layout) {
    case Layout::Indexed:
        break;
    case Layout::Grey:
        for (size_t x = 0; x < w; ++x)
            out[x] = sample(x, 0);
        break;
    case Layout::RGB:
        for (size_t x = 0; x < w; ++x, out += 3) {
            out[0] = sample(x, 2);
            out[1] = sample(x, 1);
            out[2] = sample(x, 0);
        }
        break;
    case Layout::RGBA:
        for (size_t x = 0; x < w; ++x, out += 4) {
            out[0] = sample(x, 2);
            out[1] = sample(x, 1);
            out[2] = sample(x, 0);
            out[3] = sample(x, 3);
        }
        break;
    case Layout::Lab:
        for (size_t x = 0; x < w; ++x, out += 3)
            decode::labToBgr(sample(x, 0), int8_t(sample(x, 1)), int8_t(sample(x, 2)), out);
        break;
    case Layout::CMYK:
        if constexpr (SampleBytes == 1) {
            for (size_t x = 0; x < w; ++x, out += 3)
                decode::cmykToBgr(sample(x, 0), sample(x, 1), sample(x, 2), sample(x, 3), out);
        } else {
            auto full = [&](size_t x, size_t i) {
                const uint8_t* p = in + (x * spp + i) * 2;
                return f.bigEndian ? p[0] << 8 | p[1] : p[1] << 8 | p[0];
            };
            for (size_t x = 0; x < w; ++x, out += 3)
                decode::cmyk16ToBgr(full(x, 0), full(x, 1), full(x, 2), full(x, 3), out);
        }
        break;
    }
}
// The packed bytes of one strip of one plane, unpacked a row at a time.
class PlaneReader {
public:
    void start(std::span<const uint8_t> src, int compression)
    {
        m_src = src;
        m_decoder = nullptr;
        if (compression == kLZW) {
            // a clear code written least significant bit first starts 0x00, 0x?1
            const bool oldStyle = src.size() >= 2 && src[0] == 0 && (src[1] & 1);
            auto& chosen = oldStyle ? m_oldLzw : m_lzw;
            if (!chosen)
                chosen = std::make_unique<TTIFFLZW>(oldStyle);
            chosen->Reset();
            m_decoder = chosen.get();
        } else if (compression == kPackBits) {
            m_packBits.Reset();
            m_decoder = &m_packBits;
        }
    }

    // False when the strip's data ends before the row is complete.
    bool read(std::span<uint8_t> row)
    {
        if (m_decoder)
            return m_decoder->Decode(m_src, row) == row.size();
        const size_t n = std::min(row.size(), m_src.size());
        std::memcpy(row.data(), m_src.data(), n);
        m_src = m_src.subspan(n);
        return n == row.size();
    }

private:
    std::span<const uint8_t> m_src;
    TDecoder* m_decoder = nullptr;
    std::unique_ptr<TTIFFLZW> m_lzw, m_oldLzw;
    TPackbitsRLE m_packBits;
};
}  // namespace

void TTIFFGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> file(data, size);
    ByteReader r(file);
    const uint8_t order0 = r.u8(), order1 = r.u8();
    bool bigEndian;
    if (order0 == 'I' && order1 == 'I')
        bigEndian = false;
    else if (order0 == 'M' && order1 == 'M')
        bigEndian = true;
    else
        decode::fail(kInvalidTIFF);
    const uint16_t magic = bigEndian ? r.u16be() : r.u16le();
    if (magic != 42)
        decode::fail(kInvalidTIFF);
    const uint32_t directoryOffset = bigEndian ? r.u32be() : r.u32le();
    Directory dir(file, bigEndian);
    dir.read(directoryOffset);

    const int64_t width = dir.value(kImageWidth, 0);
    const int64_t height = dir.value(kImageLength, 0);
    if (width == 0 || height == 0)
        decode::fail(kInvalidTIFF);
    const int compression = int(dir.value(kCompression, kNone));
    if (compression != kNone && compression != kLZW && compression != kPackBits)
        decode::fail(kUnknownCompression);
    const Format format = chooseFormat(dir, bigEndian);
    decode::checkDimensions(width, height, kInvalidTIFF);

    const Entry* offsets = dir.find(kStripOffsets);
    if (!offsets || offsets->count == 0)
        decode::fail(kInvalidTIFF);
    const Entry* counts = dir.find(kStripByteCounts);
    int64_t rowsPerStrip = dir.value(kRowsPerStrip, uint32_t(height));
    if (rowsPerStrip <= 0 || rowsPerStrip > height)
        rowsPerStrip = height;
    const int64_t rowBytes = decode::packedRowBytes(width, int64_t(format.samplesPerPixel) * format.bitsPerSample);
    // separate planes: every sample has strips of its own, one plane after the other
    const bool separate = dir.value(kPlanarConfiguration, 1) == 2 && format.samplesPerPixel > 1;
    if (separate && format.samplesPerPixel > kMaxPlanes)
        decode::fail(kUnsupportedLayout);
    const int planes = separate ? format.samplesPerPixel : 1;
    const size_t sampleBytes = size_t(format.bitsPerSample / 8);
    const size_t planeRowBytes = separate ? size_t(width) * sampleBytes : size_t(rowBytes);
    const int64_t stripsPerPlane = (height + rowsPerStrip - 1) / rowsPerStrip;

    struct Strip {
        size_t offset = 0, bytes = 0;  // a strip the file does not list is empty
    };
    // only the strips the file lists, and no more than its table can hold
    const int64_t listed = std::min<int64_t>(offsets->count, stripsPerPlane * planes);
    if (listed > int64_t(size))
        decode::fail(kInvalidTIFF);
    std::vector<Strip> stripList(static_cast<size_t>(listed));
    int64_t packedTotal = 0;
    for (size_t s = 0; s < stripList.size(); ++s) {
        const size_t offset = std::min<size_t>(dir.value(*offsets, uint32_t(s)), size);
        size_t bytes = size - offset;
        if (counts && s < counts->count)
            bytes = std::min<size_t>(bytes, dir.value(*counts, uint32_t(s)));
        stripList[s] = {offset, bytes};
        packedTotal += int64_t(bytes);
    }
    // strips of a sound file never share bytes, so the file bounds what they hold
    packedTotal = std::min<int64_t>(packedTotal, int64_t(size));
    const int64_t imageBytes = rowBytes * height;
    if (compression == kLZW) {
        if (imageBytes > decode::lzwMaxOutput(packedTotal, 9))
            decode::fail(kInvalidTIFF);
    } else {
        decode::checkExpansion(imageBytes, packedTotal, compression == kPackBits ? kPackBitsBestRatio : 1,
                               kInvalidTIFF);
    }

    TDIB dib;
    dib.Allocate(int(width), int(height), format.bitCount);
    if (format.bitCount <= 8)
        setPalette(dir, format, dib.ColorTable());

    const int predictor = int(dir.value(kPredictor, 1));
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    std::vector<uint8_t> planeRow(separate ? planeRowBytes : 0);
    const size_t indexedBytes = size_t(decode::packedRowBytes(width, format.bitCount));
    std::vector<PlaneReader> readers(static_cast<size_t>(planes));
    for (int64_t strip = 0; strip < stripsPerPlane; ++strip) {
        for (int p = 0; p < planes; ++p) {
            const size_t index = size_t(p * stripsPerPlane + strip);
            const Strip at = index < stripList.size() ? stripList[index] : Strip{};
            readers[size_t(p)].start(file.subspan(at.offset, at.bytes), compression);
        }
        const int64_t firstRow = strip * rowsPerStrip;
        const int64_t lastRow = std::min(height, firstRow + rowsPerStrip);
        for (int64_t y = firstRow; y < lastRow; ++y) {
            bool complete = true;
            if (!separate) {
                complete = readers[0].read(row);
            } else {
                const size_t spp = size_t(planes);
                for (size_t p = 0; p < spp && complete; ++p) {
                    complete = readers[p].read(planeRow);
                    for (size_t x = 0; x < size_t(width); ++x)
                        std::memcpy(&row[(x * spp + p) * sampleBytes], &planeRow[x * sampleBytes], sampleBytes);
                }
            }
            if (!complete)
                break;  // this strip's data ended; its remaining rows stay as allocated
            if (predictor == 2)
                undoPredictor(row.data(), row.size(), format);
            uint8_t* out = dib.RowPointer(int(y));
            if (format.layout == Layout::Indexed)
                std::memcpy(out, row.data(), indexedBytes);
            else if (format.bitsPerSample == 16)
                convertRow<2>(row.data(), out, int(width), format);
            else
                convertRow<1>(row.data(), out, int(width), format);
        }
    }
    dib_ = std::move(dib);
    // the tag's eight turns and mirrors; anything else is read as stored
    const uint32_t orientation = dir.value(kOrientation, 1);
    orientation_ = orientation >= 1 && orientation <= 8 ? int(orientation) : 1;
}

}  // namespace tsx
