#include <algorithm>
#include <cstring>

#include "imageio/decoders/decode_support.h"
#include "imageio/decoders/graphics.h"
#include "raster/byte_io.h"

namespace tsx {

namespace {
constexpr const char* kInvalidTarga = "Targa: invalid image";

constexpr int kBestRunRatio = 128;  // a packet byte and one pixel make 128 pixels

// Run-length packets of whole pixels; a packet may run on into the next row.
class TargaRunReader {
public:
    TargaRunReader(std::span<const uint8_t> src, int pixelBytes) : m_src(src), m_pixelBytes(size_t(pixelBytes)) {}

    // Fills row with up to its size in bytes; returns the bytes written.
    size_t read(uint8_t* row, size_t rowBytes)
    {
        size_t done = 0;
        while (done < rowBytes) {
            if (m_repeat > 0) {
                const size_t n = std::min(m_repeat, (rowBytes - done) / m_pixelBytes);
                for (size_t i = 0; i < n; ++i, done += m_pixelBytes)
                    std::memcpy(row + done, m_value, m_pixelBytes);
                m_repeat -= n;
                continue;
            }
            if (m_literal > 0) {
                const size_t n = std::min({m_literal, (rowBytes - done) / m_pixelBytes, m_src.size() / m_pixelBytes});
                if (n == 0)
                    break;
                std::memcpy(row + done, m_src.data(), n * m_pixelBytes);
                m_src = m_src.subspan(n * m_pixelBytes);
                done += n * m_pixelBytes;
                m_literal -= n;
                continue;
            }
            if (m_src.empty())
                break;
            const uint8_t packet = m_src[0];
            m_src = m_src.subspan(1);
            const size_t count = (packet & 0x7F) + 1u;
            if (packet & 0x80) {
                if (m_src.size() < m_pixelBytes)
                    break;
                std::memcpy(m_value, m_src.data(), m_pixelBytes);
                m_src = m_src.subspan(m_pixelBytes);
                m_repeat = count;
            } else {
                m_literal = count;
            }
        }
        return done;
    }

private:
    std::span<const uint8_t> m_src;
    size_t m_pixelBytes;
    size_t m_repeat = 0, m_literal = 0;
    uint8_t m_value[4] = {};
};
}  // namespace

void TTargaGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    ByteReader r(data, size);
    const int idLength = r.u8();
    const int colourMapType = r.u8();
    const int imageType = r.u8();
    const int mapStart = r.u16le();
    const int mapLength = r.u16le();
    const int mapEntryBits = r.u8();
    r.skip(4);  // x and y origin
    const int width = r.u16le();
    const int height = r.u16le();
    const int depth = r.u8();
    const int descriptor = r.u8();
    r.skip(size_t(idLength));

    TColorTable table{};
    if (colourMapType == 1) {
        const size_t entryBytes = size_t(mapEntryBits + 7) / 8;
        for (int i = 0; i < mapLength; ++i) {
            const auto e = r.take(entryBytes);
            const int index = mapStart + i;
            if (index > 255)
                continue;
            TRGBQuad& q = table[size_t(index)];
            if (entryBytes == 3 || entryBytes == 4) {
                q = TRGBQuad{e[0], e[1], e[2], 0};
            } else if (entryBytes == 2) {
                const int w = e[0] | e[1] << 8;
                q = TRGBQuad{uint8_t((w & 31) * 8), uint8_t(((w >> 5) & 31) * 8), uint8_t(((w >> 10) & 31) * 8), 0};
            }
        }
    }

    const bool runLength = imageType >= 9 && imageType <= 11;
    if (!(imageType >= 1 && imageType <= 3) && !runLength) {
        // a type we do not know has no pixels we could show
        dib_.MakeEmpty();
        return;
    }
    int bitCount, pixelBytes;
    switch (depth) {
    case 8: bitCount = 8, pixelBytes = 1; break;
    case 15:
    case 16: bitCount = 16, pixelBytes = 2; break;
    case 24: bitCount = 24, pixelBytes = 3; break;
    case 32: bitCount = 32, pixelBytes = 4; break;
    default: decode::fail(kInvalidTarga);
    }
    decode::checkDimensions(width, height, kInvalidTarga);
    const size_t rowBytes = size_t(width) * size_t(pixelBytes);
    const int64_t imageBytes = int64_t(rowBytes) * height;
    if (runLength)
        decode::checkExpansion(imageBytes, int64_t(r.remaining()), kBestRunRatio, kInvalidTarga);
    else if (imageBytes > int64_t(r.remaining()))
        decode::fail(kInvalidTarga);  // rows of uncompressed data cut short

    TDIB dib;
    if (bitCount == 16)
        dib.SetPixelFormat(TPixelFormat::rgb555());
    dib.Allocate(width, height, bitCount);
    if (bitCount == 8) {
        if (imageType == 3 || imageType == 11)
            decode::setGreyRamp(dib.ColorTable(), 8);
        else
            dib.ColorTable() = table;
    }

    const bool topFirst = descriptor & 0x20;
    TargaRunReader runs(r.rest(), pixelBytes);
    for (int i = 0; i < height; ++i) {
        uint8_t* row = dib.RowPointer(topFirst ? i : height - 1 - i);
        if (!runLength) {
            r.bytes(row, rowBytes);
        } else if (runs.read(row, rowBytes) < rowBytes) {
            break;  // packed data ended; the remaining rows stay black
        }
    }
    dib_ = std::move(dib);
}

}  // namespace tsx
