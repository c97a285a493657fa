// Small encoders and byte builders for the decoder tests and benchmark: just
// enough of each format to write the variants the public test files lack.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tsx::testing {

using Bytes = std::vector<uint8_t>;

/// Appends numbers in either byte order.
struct ByteBuilder {
    Bytes bytes;
    bool bigEndian = false;

    ByteBuilder& u8(int v) { bytes.push_back(uint8_t(v)); return *this; }
    ByteBuilder& u16(int v)
    {
        if (bigEndian)
            return u8(v >> 8).u8(v);
        return u8(v).u8(v >> 8);
    }
    ByteBuilder& u32(uint32_t v)
    {
        if (bigEndian)
            return u16(int(v >> 16)).u16(int(v & 0xFFFF));
        return u16(int(v & 0xFFFF)).u16(int(v >> 16));
    }
    ByteBuilder& text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); return *this; }
    ByteBuilder& append(const Bytes& b) { bytes.insert(bytes.end(), b.begin(), b.end()); return *this; }
    ByteBuilder& zeros(size_t n) { bytes.insert(bytes.end(), n, 0); return *this; }
    size_t size() const { return bytes.size(); }
};

/// LZW in the flavours our decoders read. The code width follows the
/// decoder's table exactly, and the table is cleared before it fills.
inline Bytes lzwEncode(const Bytes& input, int minCodeSize, bool msbFirst, bool earlyChange)
{
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    Bytes out;
    uint32_t buffer = 0;
    int bits = 0;
    int width = minCodeSize + 1;
    auto emit = [&](int code) {
        if (msbFirst) {
            buffer = (buffer << width) | uint32_t(code);
            bits += width;
            while (bits >= 8) {
                out.push_back(uint8_t(buffer >> (bits - 8)));
                bits -= 8;
            }
        } else {
            buffer |= uint32_t(code) << bits;
            bits += width;
            while (bits >= 8) {
                out.push_back(uint8_t(buffer));
                buffer >>= 8;
                bits -= 8;
            }
        }
    };
    std::unordered_map<uint32_t, int> table;
    int encoderNext = clearCode + 2;
    int decoderNext = clearCode + 2;
    bool firstAfterClear = true;
    auto clear = [&] {
        emit(clearCode);
        table.clear();
        encoderNext = decoderNext = clearCode + 2;
        width = minCodeSize + 1;
        firstAfterClear = true;
    };
    // the decoder adds an entry for every code but the first after a clear
    auto sent = [&](int code) {
        emit(code);
        if (!firstAfterClear && decoderNext < 4096) {
            ++decoderNext;
            if (decoderNext == (1 << width) - (earlyChange ? 1 : 0) && width < 12)
                ++width;
        }
        firstAfterClear = false;
    };
    clear();
    if (!input.empty()) {
        int prefix = input[0];
        for (size_t i = 1; i < input.size(); ++i) {
            const uint8_t c = input[i];
            const uint32_t key = uint32_t(prefix) << 8 | c;
            auto it = table.find(key);
            if (it != table.end()) {
                prefix = it->second;
                continue;
            }
            sent(prefix);
            if (encoderNext < 4000)
                table[key] = encoderNext++;
            else
                clear();
            prefix = c;
        }
        sent(prefix);
    }
    emit(endCode);
    if (bits > 0)
        out.push_back(uint8_t(msbFirst ? buffer << (8 - bits) : buffer));
    return out;
}

/// A GIF of 8-bit indices with a 256-colour global table whose entry i is
/// (i, 255 - i, i / 2); rows in file order (already interlaced if asked).
inline Bytes makeGif(int width, int height, const Bytes& indicesInFileOrder, bool interlaced, int minCodeSize = 8)
{
    ByteBuilder b;
    b.text("GIF89a").u16(width).u16(height).u8(0xF7).u8(0).u8(0);
    for (int i = 0; i < 256; ++i)
        b.u8(i).u8(255 - i).u8(i / 2);
    // a graphic control block whose bytes include "," and a zero
    b.u8('!').u8(0xF9).u8(4).u8(0).u8(',').u8(0).u8(0).u8(0);
    b.u8(',').u16(0).u16(0).u16(width).u16(height).u8(interlaced ? 0x40 : 0);
    b.u8(minCodeSize);
    const Bytes packed = lzwEncode(indicesInFileOrder, minCodeSize, false, false);
    for (size_t at = 0; at < packed.size(); at += 255) {
        const size_t n = std::min<size_t>(255, packed.size() - at);
        b.u8(int(n));
        b.bytes.insert(b.bytes.end(), packed.begin() + ptrdiff_t(at), packed.begin() + ptrdiff_t(at + n));
    }
    b.u8(0).u8(';');
    return b.bytes;
}

/// One TIFF directory entry.
struct TiffTag {
    int tag;
    int type;  // 3 SHORT, 4 LONG
    std::vector<uint32_t> values;
};

/// A TIFF with one directory and the given strips, in either byte order.
inline Bytes makeTiff(bool bigEndian, std::vector<TiffTag> tags, const std::vector<Bytes>& strips)
{
    tags.push_back({273, 4, std::vector<uint32_t>(strips.size())});
    tags.push_back({279, 4, std::vector<uint32_t>(strips.size())});
    std::sort(tags.begin(), tags.end(), [](const TiffTag& a, const TiffTag& c) { return a.tag < c.tag; });
    auto valueBytes = [](const TiffTag& t) { return t.values.size() * (t.type == 3 ? 2 : 4); };
    const size_t extraAt = 8 + 2 + tags.size() * 12 + 4;
    size_t at = extraAt;
    for (const auto& t : tags)
        if (valueBytes(t) > 4)
            at += valueBytes(t);
    for (auto& t : tags) {
        size_t stripAt = at;
        for (size_t i = 0; i < strips.size(); ++i) {
            if (t.tag == 273)
                t.values[i] = uint32_t(stripAt);
            if (t.tag == 279)
                t.values[i] = uint32_t(strips[i].size());
            stripAt += strips[i].size();
        }
    }
    ByteBuilder b, extra;
    b.bigEndian = extra.bigEndian = bigEndian;
    b.text(bigEndian ? "MM" : "II").u16(42).u32(8).u16(int(tags.size()));
    for (const auto& t : tags) {
        b.u16(t.tag).u16(t.type).u32(uint32_t(t.values.size()));
        ByteBuilder v;
        v.bigEndian = bigEndian;
        for (uint32_t x : t.values)
            t.type == 3 ? v.u16(int(x)) : v.u32(x);
        if (valueBytes(t) <= 4) {
            v.zeros(4 - valueBytes(t));
            b.append(v.bytes);
        } else {
            b.u32(uint32_t(extraAt + extra.size()));
            extra.append(v.bytes);
        }
    }
    b.u32(0).append(extra.bytes);
    for (const Bytes& s : strips)
        b.append(s);
    return b.bytes;
}

}  // namespace tsx::testing
