// The decompressors of the image decoders. Each one keeps its state between
// calls, so a caller can unpack a picture one row at a time into a row-sized
// buffer: a run or an LZW string that crosses a row end simply continues in
// the next call. None of them reads past its source or writes past its
// destination; running out of packed data just ends the output early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tsx {

/// A decompressor: unpacks bytes from a packed source into a destination.
class TDecoder {
public:
    virtual ~TDecoder() = default;
    /// Unpacks into dst until it is full, the source is used up or the data
    /// ends; src is advanced over the bytes consumed. Returns bytes written.
    virtual size_t Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst) = 0;
    /// Finishes a picture; nothing is left to flush for any of ours.
    virtual void DecodeEnd() {}
};

/// The shared LZW machinery of the GIF and TIFF variants: a flat string
/// table (prefix, suffix, first byte, length), never an allocation per code.
class LzwCore {
public:
    struct Config {
        int minCodeSize = 8;      // literal codes are 0 .. 2^minCodeSize - 1
        bool msbFirst = true;     // bit order of the codes in the packed bytes
        bool earlyChange = true;  // widen one code early (the TIFF habit)
        const char* invalidMessage = "";
    };
    explicit LzwCore(const Config& config);
    /// Back to the start state, for the next independently coded strip.
    void reset();
    size_t decode(std::span<const uint8_t>& src, std::span<uint8_t> dst);

private:
    static constexpr int kTableSize = 4096;
    void clearTable();
    size_t flushPending(uint8_t* out, size_t room);

    Config m_config;
    int m_clearCode, m_endCode, m_firstFree;
    int m_nextFree = 0;
    int m_width = 0;
    int m_previous = -1;
    uint32_t m_bitBuffer = 0;
    int m_bitCount = 0;
    bool m_ended = false;
    // a string that did not fit into the last destination, waiting to go out
    size_t m_pendingStart = 0, m_pendingEnd = 0;
    uint16_t m_prefix[kTableSize];
    uint8_t m_suffix[kTableSize];
    uint8_t m_first[kTableSize];
    uint16_t m_length[kTableSize];
    uint8_t m_pending[kTableSize];
};

/// TIFF LZW: codes most significant bit first, 9 to 12 bits, early change.
/// Old-style files (written before the TIFF LZW rules settled) put their
/// codes least significant bit first and widen late; oldStyle reads those.
class TTIFFLZW : public TDecoder {
public:
    explicit TTIFFLZW(bool oldStyle = false);
    size_t Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst) override { return m_core.decode(src, dst); }
    void Reset() { m_core.reset(); }

private:
    LzwCore m_core;
};

/// GIF LZW: codes least significant bit first, starting one bit above the
/// minimum code size.
class TGIFLZW : public TDecoder {
public:
    explicit TGIFLZW(int minCodeSize);
    size_t Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst) override { return m_core.decode(src, dst); }
    void Reset() { m_core.reset(); }

private:
    LzwCore m_core;
};

/// PackBits: n ≥ 0 copies n + 1 bytes, −127 ≤ n ≤ −1 repeats one byte 1 − n times.
class TPackbitsRLE : public TDecoder {
public:
    size_t Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst) override;
    void Reset() { m_literal = m_repeat = 0; }

private:
    int m_literal = 0, m_repeat = 0;
    uint8_t m_value = 0;
};

/// PCX: a byte of 0xC0 or more repeats the next byte (byte & 63) times.
class TPCXRLE : public TDecoder {
public:
    size_t Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst) override;

private:
    int m_repeat = 0;
    uint8_t m_value = 0;
};

/// SGI: one row of 1- or 2-byte channel values; a zero count ends the row.
/// Two-byte values keep their high byte. Rows are coded independently.
class TSGIRLE : public TDecoder {
public:
    explicit TSGIRLE(int bytesPerChannel) : m_bytes(bytesPerChannel) {}
    size_t Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst) override;

private:
    int m_bytes;
};

/// Dr. Halo CUT: one row, starting with its 2-byte length; 0 ends the row.
class TCUTRLE : public TDecoder {
public:
    size_t Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst) override;
};

/// Wavefront RLA: n < 0 copies −n bytes, 0 ≤ n ≤ 127 repeats one byte n + 1 times.
class TRLADecoder : public TDecoder {
public:
    size_t Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst) override;
};

}  // namespace tsx
