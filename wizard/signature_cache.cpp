#include "wizard/signature_cache.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "raster/byte_io.h"
#include "raster/errors.h"

namespace tsx {

namespace {

// The version is in the magic: a reader that decodes differently starts a
// new file rather than trusting signatures it would not give itself.
constexpr char kMagic[8] = {'T', 'S', 'X', 'S', 'I', 'G', '0', '1'};
constexpr size_t kLongestPath = 4096;
// each entry takes at least this many bytes: a count beyond what the file
// could hold is refused before anything is reserved
constexpr size_t kSmallestEntry = 4 + 8 + 8 + 4;

void makeFolders(const std::string& file)
{
    for (size_t at = file.find('/', 1); at != std::string::npos; at = file.find('/', at + 1))
        ::mkdir(file.substr(0, at).c_str(), 0700);
}

}  // namespace

std::string SignatureCache::defaultFile()
{
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/')
        return std::string(xdg) + "/tesserix/signatures";
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::string(home) + "/.cache/tesserix/signatures";
    return {};
}

std::optional<SignatureCache::Key> SignatureCache::keyOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return Key{path, uint64_t(st.st_size), int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::optional<std::vector<std::pair<SignatureCache::Key, SignatureCache::Entry>>> SignatureCache::parse(
    std::span<const uint8_t> bytes)
{
    std::vector<std::pair<Key, Entry>> out;
    try {
        ByteReader r(bytes);
        const std::span<const uint8_t> magic = r.take(sizeof kMagic);
        if (std::memcmp(magic.data(), kMagic, sizeof kMagic) != 0)
            return std::nullopt;
        const uint32_t count = r.u32le();
        if (count > r.remaining() / kSmallestEntry)
            return std::nullopt;
        out.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t length = r.u32le();
            if (length == 0 || length > kLongestPath)
                return std::nullopt;
            const std::span<const uint8_t> path = r.take(length);
            Key key{std::string(reinterpret_cast<const char*>(path.data()), path.size()), 0, 0};
            key.size = uint64_t(r.u32le()) | uint64_t(r.u32le()) << 32;
            key.modifiedNs = int64_t(uint64_t(r.u32le()) | uint64_t(r.u32le()) << 32);
            Entry entry;
            const uint8_t flags = r.u8();
            if (flags > 1)
                return std::nullopt;
            entry.hasPixels = flags == 1;
            entry.signature.red = r.u8();
            entry.signature.green = r.u8();
            entry.signature.blue = r.u8();
            out.emplace_back(std::move(key), entry);
        }
        if (!r.atEnd())
            return std::nullopt;
    } catch (const EReadError&) {
        return std::nullopt;
    }
    return out;
}

void SignatureCache::readFile()
{
    if (m_file.empty())
        return;
    std::vector<uint8_t> bytes;
    try {
        bytes = readWholeFile(m_file);
    } catch (const Error&) {
        return;  // not there yet, or not readable: start afresh
    }
    std::lock_guard lock(m_mutex);
    if (auto entries = parse(bytes))
        for (auto& [key, entry] : *entries)
            m_entries[key.path] = Stored{key.size, key.modifiedNs, entry};
}

std::vector<uint8_t> SignatureCache::serialize() const
{
    std::lock_guard lock(m_mutex);
    std::vector<uint8_t> out(kMagic, kMagic + sizeof kMagic);
    ByteWriter w(out);
    w.u32le(uint32_t(m_entries.size()));
    for (const auto& [path, s] : m_entries) {
        w.u32le(uint32_t(path.size()));
        w.bytes(path.data(), path.size());
        w.u32le(uint32_t(s.size));
        w.u32le(uint32_t(s.size >> 32));
        w.u32le(uint32_t(uint64_t(s.modifiedNs)));
        w.u32le(uint32_t(uint64_t(s.modifiedNs) >> 32));
        w.u8(s.entry.hasPixels ? 1 : 0);
        w.u8(s.entry.signature.red);
        w.u8(s.entry.signature.green);
        w.u8(s.entry.signature.blue);
    }
    return out;
}

std::optional<SignatureCache::Entry> SignatureCache::find(const Key& key) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.find(key.path);
    if (it == m_entries.end() || it->second.size != key.size || it->second.modifiedNs != key.modifiedNs)
        return std::nullopt;
    return it->second.entry;
}

void SignatureCache::store(const Key& key, const Entry& entry)
{
    if (key.path.empty() || key.path.size() > kLongestPath)
        return;
    std::lock_guard lock(m_mutex);
    m_entries[key.path] = Stored{key.size, key.modifiedNs, entry};
    m_changed = true;
}

size_t SignatureCache::size() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

void SignatureCache::save()
{
    if (m_file.empty() || !m_changed)
        return;
    const std::vector<uint8_t> bytes = serialize();
    makeFolders(m_file);
    writeWholeFile(m_file, bytes);
    m_changed = false;
}

}  // namespace tsx
