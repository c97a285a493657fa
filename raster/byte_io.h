// Bounds-checked reading and little-endian writing of file bytes. Every file
// reader parses through ByteReader, so a short or hostile file ends in
// "Stream read error" instead of a read past the end.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "raster/errors.h"

namespace tsx {

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> data) : m_data(data) {}
    ByteReader(const uint8_t* data, size_t size) : m_data(data, size) {}

    size_t pos() const { return m_pos; }
    size_t size() const { return m_data.size(); }
    size_t remaining() const { return m_data.size() - m_pos; }
    bool atEnd() const { return m_pos >= m_data.size(); }
    std::span<const uint8_t> data() const { return m_data; }
    // The unread bytes, for decompressors that run to the end of their input.
    std::span<const uint8_t> rest() const { return m_data.subspan(m_pos); }

    // no overflow: compares against what is left, never adds to m_pos first
    void need(size_t n) const
    {
        if (n > m_data.size() - m_pos)
            throw EReadError(msg::kStreamRead);
    }
    void seek(size_t offset)
    {
        if (offset > m_data.size())
            throw EReadError(msg::kStreamRead);
        m_pos = offset;
    }
    void skip(size_t n) { need(n); m_pos += n; }

    uint8_t u8() { need(1); return m_data[m_pos++]; }
    int8_t i8() { return static_cast<int8_t>(u8()); }
    uint16_t u16le()
    {
        need(2);
        const uint16_t v = uint16_t(m_data[m_pos] | m_data[m_pos + 1] << 8);
        m_pos += 2;
        return v;
    }
    uint16_t u16be()
    {
        need(2);
        const uint16_t v = uint16_t(m_data[m_pos] << 8 | m_data[m_pos + 1]);
        m_pos += 2;
        return v;
    }
    uint32_t u32le()
    {
        need(4);
        const uint8_t* p = m_data.data() + m_pos;
        m_pos += 4;
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    uint32_t u32be()
    {
        need(4);
        const uint8_t* p = m_data.data() + m_pos;
        m_pos += 4;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
    }
    int16_t i16le() { return static_cast<int16_t>(u16le()); }
    int16_t i16be() { return static_cast<int16_t>(u16be()); }
    int32_t i32le() { return static_cast<int32_t>(u32le()); }
    int32_t i32be() { return static_cast<int32_t>(u32be()); }
    double f64le()
    {
        const uint64_t lo = u32le();
        const uint64_t hi = u32le();
        const uint64_t bits = lo | hi << 32;
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    void bytes(void* out, size_t n)
    {
        need(n);
        std::memcpy(out, m_data.data() + m_pos, n);
        m_pos += n;
    }
    std::span<const uint8_t> take(size_t n)
    {
        need(n);
        auto s = m_data.subspan(m_pos, n);
        m_pos += n;
        return s;
    }

private:
    std::span<const uint8_t> m_data;
    size_t m_pos = 0;
};

// Appends little-endian values to a byte buffer.
class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void u8(uint8_t v) { m_out.push_back(v); }
    void u16le(uint16_t v) { u8(uint8_t(v)); u8(uint8_t(v >> 8)); }
    void u32le(uint32_t v) { u16le(uint16_t(v)); u16le(uint16_t(v >> 16)); }
    void i32le(int32_t v) { u32le(static_cast<uint32_t>(v)); }
    void f64le(double v)
    {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        u32le(uint32_t(bits));
        u32le(uint32_t(bits >> 32));
    }
    void zeros(size_t n) { m_out.insert(m_out.end(), n, 0); }
    void bytes(const void* p, size_t n)
    {
        const auto* b = static_cast<const uint8_t*>(p);
        m_out.insert(m_out.end(), b, b + n);
    }

private:
    std::vector<uint8_t>& m_out;
};

// Reads a whole file; "Cannot open file %s" when it cannot be opened.
std::vector<uint8_t> readWholeFile(const std::string& fileName);

// Writes a file through a temporary name in the same folder and renames it
// over the target, so a failed write leaves any old file as it was.
// "Cannot create file %s" when the file cannot be created or written.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string fileName);
    ~AtomicFileWriter();  // removes the temporary file unless committed
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
    void write(const void* data, size_t size);
    // At a byte offset of the file, for layouts written out of order.
    void writeAt(uint64_t offset, const void* data, size_t size);
    // Starts putting what was written so far on disk without waiting for it,
    // so a long write's final flush has little left to do.
    void startWriteback();
    // The open file, for libraries that write through a descriptor of their own (dup it).
    int descriptor() const { return m_fd; }
    const std::string& fileName() const { return m_fileName; }
    void commit();  // flush, fsync, rename over the target

private:
    std::string m_fileName;
    std::string m_target;    // the file the name reaches through links
    std::string m_tempName;  // empty when writing a device in place
    int m_fd = -1;
};

// Writes bytes to a file atomically (AtomicFileWriter).
void writeWholeFile(const std::string& fileName, const std::vector<uint8_t>& bytes);

}  // namespace tsx
