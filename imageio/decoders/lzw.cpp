#include "imageio/decoders/decoder.h"

#include <algorithm>
#include <cstring>

#include "raster/errors.h"

namespace tsx {

namespace {
constexpr const char* kTIFFInvalidOpcode = "TIF LZW: invalid opcode.";
constexpr const char* kGIFInvalidOpcode = "GIF LZW: invalid opcode.";
constexpr int kMaxCodeWidth = 12;
}  // namespace

LzwCore::LzwCore(const Config& config)
    : m_config(config)
    , m_clearCode(1 << config.minCodeSize)
    , m_endCode(m_clearCode + 1)
    , m_firstFree(m_clearCode + 2)
{
    for (int i = 0; i < m_clearCode; ++i) {
        m_prefix[i] = 0;
        m_suffix[i] = uint8_t(i);
        m_first[i] = uint8_t(i);
        m_length[i] = 1;
    }
    reset();
}

void LzwCore::reset()
{
    clearTable();
    m_bitBuffer = 0;
    m_bitCount = 0;
    m_ended = false;
    m_pendingStart = m_pendingEnd = 0;
}

void LzwCore::clearTable()
{
    m_nextFree = m_firstFree;
    m_width = m_config.minCodeSize + 1;
    m_previous = -1;
}

size_t LzwCore::flushPending(uint8_t* out, size_t room)
{
    const size_t n = std::min(room, m_pendingEnd - m_pendingStart);
    std::memcpy(out, m_pending + m_pendingStart, n);
    m_pendingStart += n;
    return n;
}

size_t LzwCore::decode(std::span<const uint8_t>& src, std::span<uint8_t> dst)
{
    uint8_t* const out = dst.data();
    const size_t room = dst.size();
    size_t written = flushPending(out, room);
    if (written == room || m_ended)
        return written;

    const uint8_t* in = src.data();
    const uint8_t* const inEnd = in + src.size();
    // the hot state lives in locals: every byte written through out may alias
    // members as far as the compiler knows, and would force reloads
    uint32_t buffer = m_bitBuffer;
    int bits = m_bitCount;
    int width = m_width;
    int nextFree = m_nextFree;
    int previous = m_previous;
    const bool msbFirst = m_config.msbFirst;
    const int earlyShift = m_config.earlyChange ? 1 : 0;
    const int clearCode = m_clearCode, endCode = m_endCode;
    uint16_t* const prefix = m_prefix;
    uint8_t* const suffix = m_suffix;
    uint8_t* const first = m_first;
    uint16_t* const lengths = m_length;

    while (written < room) {
        while (bits < width) {
            if (in == inEnd)
                goto done;
            if (msbFirst)
                buffer = (buffer << 8) | *in++;
            else
                buffer |= uint32_t(*in++) << bits;
            bits += 8;
        }
        int code;
        const uint32_t mask = (1u << width) - 1;
        if (msbFirst) {
            code = int((buffer >> (bits - width)) & mask);
        } else {
            code = int(buffer & mask);
            buffer >>= width;
        }
        bits -= width;

        if (code == clearCode) {
            nextFree = m_firstFree;
            width = m_config.minCodeSize + 1;
            previous = -1;
            continue;
        }
        if (code == endCode) {
            m_ended = true;
            break;
        }
        if (previous < 0) {
            // straight after a clear only the single bytes are defined
            if (code >= clearCode)
                throw Error(m_config.invalidMessage);
            out[written++] = uint8_t(code);
            previous = code;
            continue;
        }
        if (code > nextFree)
            throw Error(m_config.invalidMessage);
        // a full table takes no more entries; the data is expected to clear it
        if (nextFree < kTableSize) {
            // code == nextFree is the string being defined right now: the
            // previous string and its own first byte
            const uint8_t byte = code == nextFree ? first[previous] : first[code];
            prefix[nextFree] = uint16_t(previous);
            suffix[nextFree] = byte;
            first[nextFree] = first[previous];
            lengths[nextFree] = uint16_t(lengths[previous] + 1);
            ++nextFree;
            if (nextFree == (1 << width) - earlyShift && width < kMaxCodeWidth)
                ++width;
        }

        const size_t length = lengths[code];
        if (length == 1) {
            out[written++] = suffix[code];
        } else {
            const bool fits = length <= room - written;
            uint8_t* const target = fits ? out + written : m_pending;
            uint8_t* p = target + length;
            for (int c = code; p != target; c = prefix[c])
                *--p = suffix[c];
            if (fits) {
                written += length;
            } else {
                m_pendingStart = 0;
                m_pendingEnd = length;
                written += flushPending(out + written, room - written);
            }
        }
        previous = code;
    }
done:
    m_bitBuffer = buffer;
    m_bitCount = bits;
    m_width = width;
    m_nextFree = nextFree;
    m_previous = previous;
    src = src.subspan(size_t(in - src.data()));
    return written;
}

TTIFFLZW::TTIFFLZW(bool oldStyle)
    : m_core({8, !oldStyle, !oldStyle, kTIFFInvalidOpcode})
{
}

TGIFLZW::TGIFLZW(int minCodeSize)
    : m_core({minCodeSize, false, false, kGIFInvalidOpcode})
{
}

}  // namespace tsx
