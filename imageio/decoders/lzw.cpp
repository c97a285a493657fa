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

void LzwCore::addEntry(int prefixCode, uint8_t byte)
{
    // a full table takes no more entries; the data is expected to clear it
    if (m_nextFree >= kTableSize)
        return;
    const int index = m_nextFree;
    m_prefix[index] = uint16_t(prefixCode);
    m_suffix[index] = byte;
    m_first[index] = m_first[prefixCode];
    m_length[index] = uint16_t(m_length[prefixCode] + 1);
    ++m_nextFree;
    const int growAt = (1 << m_width) - (m_config.earlyChange ? 1 : 0);
    if (m_nextFree == growAt && m_width < kMaxCodeWidth)
        ++m_width;
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
    uint32_t buffer = m_bitBuffer;
    int bits = m_bitCount;
    const bool msbFirst = m_config.msbFirst;

    while (written < room) {
        while (bits < m_width) {
            if (in == inEnd)
                goto done;
            if (msbFirst)
                buffer = (buffer << 8) | *in++;
            else
                buffer |= uint32_t(*in++) << bits;
            bits += 8;
        }
        int code;
        const uint32_t mask = (1u << m_width) - 1;
        if (msbFirst) {
            code = int((buffer >> (bits - m_width)) & mask);
        } else {
            code = int(buffer & mask);
            buffer >>= m_width;
        }
        bits -= m_width;

        if (code == m_clearCode) {
            clearTable();
            continue;
        }
        if (code == m_endCode) {
            m_ended = true;
            break;
        }
        if (m_previous < 0) {
            // straight after a clear only the single bytes are defined
            if (code >= m_clearCode)
                throw Error(m_config.invalidMessage);
            out[written++] = uint8_t(code);
            m_previous = code;
            continue;
        }
        if (code > m_nextFree)
            throw Error(m_config.invalidMessage);
        if (code == m_nextFree) {
            // the string being defined right now: previous string + its own first byte
            addEntry(m_previous, m_first[m_previous]);
        } else {
            addEntry(m_previous, m_first[code]);
        }

        const size_t length = m_length[code];
        uint8_t* target;
        const bool fits = length <= room - written;
        target = fits ? out + written : m_pending;
        uint8_t* p = target + length;
        for (int c = code;; c = m_prefix[c]) {
            *--p = m_suffix[c];
            if (p == target)
                break;
        }
        if (fits) {
            written += length;
        } else {
            m_pendingStart = 0;
            m_pendingEnd = length;
            written += flushPending(out + written, room - written);
        }
        m_previous = code;
    }
done:
    m_bitBuffer = buffer;
    m_bitCount = bits;
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
