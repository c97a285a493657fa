#include <cstring>

#include "imageio/decoders/decode_support.h"
#include "imageio/decoders/graphics.h"

namespace tsx {

namespace {
constexpr const char* kNotPPM = "Not a valid ppm file.";
constexpr const char* kPPMReadError = "PPM: Stream read error.";

constexpr uint32_t kLargestSide = 0x7FFFFFFF;

// Decimal numbers separated by white space, "#" starting a comment that runs
// to the end of the line. Every step checks the end of the data.
class TextScanner {
public:
    TextScanner(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    size_t pos() const { return m_pos; }
    size_t remaining() const { return m_size - m_pos; }
    const uint8_t* here() const { return m_data + m_pos; }

    // Skips white space and comments; false at the end of the data.
    bool skipSpace()
    {
        while (m_pos < m_size) {
            const uint8_t c = m_data[m_pos];
            if (c == '#') {
                while (m_pos < m_size && m_data[m_pos] != '\n' && m_data[m_pos] != '\r')
                    ++m_pos;
            } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                ++m_pos;
            } else {
                return true;
            }
        }
        return false;
    }

    // A header number: anything malformed or absurd means the file is not ours.
    uint32_t headerNumber()
    {
        if (!skipSpace() || !isDigit(m_data[m_pos]))
            decode::fail(kNotPPM);
        uint64_t v = 0;
        while (m_pos < m_size && isDigit(m_data[m_pos])) {
            v = v * 10 + uint64_t(m_data[m_pos++] - '0');
            if (v > kLargestSide)
                decode::fail(kNotPPM);
        }
        return uint32_t(v);
    }

    // A sample: its low byte, which unsigned wrap-around keeps exact.
    uint8_t sample()
    {
        if (!skipSpace())
            decode::fail(kPPMReadError);
        if (!isDigit(m_data[m_pos]))
            decode::fail(kNotPPM);
        uint32_t v = 0;
        while (m_pos < m_size && isDigit(m_data[m_pos]))
            v = v * 10 + uint32_t(m_data[m_pos++] - '0');
        return uint8_t(v);
    }

    // A plain bitmap digit: each "0" or "1" is one pixel, spaces or not.
    uint8_t bit()
    {
        if (!skipSpace())
            decode::fail(kPPMReadError);
        const uint8_t c = m_data[m_pos++];
        if (c != '0' && c != '1')
            decode::fail(kNotPPM);
        return uint8_t(c - '0');
    }

    void skipOne() { ++m_pos; }

private:
    static bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};
}  // namespace

void TPPMGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    if (size < 2 || data[0] != 'P' || data[1] < '1' || data[1] > '6')
        decode::fail(kNotPPM);
    const int kind = data[1] - '0';
    TextScanner s(data + 2, size - 2);
    const int64_t width = s.headerNumber();
    const int64_t height = s.headerNumber();
    if (kind != 1 && kind != 4)
        s.headerNumber();  // the maximum value: samples are taken as bytes whatever it says
    decode::checkDimensions(width, height, kNotPPM);

    const bool binary = kind >= 4;
    const int channels = kind == 3 || kind == 6 ? 3 : 1;
    const int bitCount = kind == 1 || kind == 4 ? 1 : channels == 3 ? 24 : 8;
    const int64_t samples = width * height * channels;
    const int64_t rowBytes = kind == 4 ? decode::packedRowBytes(width, 1) : width * channels;
    if (binary) {
        // one white-space byte ends the header
        if (s.remaining() == 0)
            decode::fail(kPPMReadError);
        s.skipOne();
        if (rowBytes * height > int64_t(s.remaining()))
            decode::fail(kPPMReadError);
    } else if (samples > int64_t(s.remaining())) {
        decode::fail(kPPMReadError);  // every sample takes at least one character
    }

    TDIB dib;
    dib.Allocate(int(width), int(height), bitCount);
    TColorTable& table = dib.ColorTable();
    if (bitCount == 1) {
        table.fill(TRGBQuad{});
        table[0] = TRGBQuad{255, 255, 255, 0};  // a set bit is black
    } else if (bitCount == 8) {
        decode::setGreyRamp(table, 8);
    }

    const uint8_t* in = s.here();
    const size_t w = size_t(width);
    for (int y = 0; y < int(height); ++y) {
        uint8_t* out = dib.RowPointer(y);
        if (binary) {
            if (channels == 3) {
                for (size_t x = 0; x < w; ++x, in += 3, out += 3) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                }
            } else {
                std::memcpy(out, in, size_t(rowBytes));
                in += rowBytes;
            }
        } else if (kind == 1) {
            for (size_t x = 0; x < w; ++x)
                if (s.bit())
                    out[x >> 3] = uint8_t(out[x >> 3] | (0x80 >> (x & 7)));
        } else if (channels == 3) {
            for (size_t x = 0; x < w; ++x, out += 3) {
                out[2] = s.sample();
                out[1] = s.sample();
                out[0] = s.sample();
            }
        } else {
            for (size_t x = 0; x < w; ++x)
                out[x] = s.sample();
        }
    }
    dib_ = std::move(dib);
}

}  // namespace tsx
