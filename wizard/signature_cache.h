// Signatures of pictures loaded before, kept in a file of the user's cache
// folder between runs, so that loading a folder again decodes only what is
// new or changed. A picture is known by its path, its size and the time it
// was last modified; any change of these makes it a new picture.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/mosaic_job.h"

namespace tsx {

class SignatureCache {
public:
    /// What a folder load learnt of one picture.
    struct Entry {
        bool hasPixels = false;  // false: the picture is 0 pixels wide and is skipped
        CellSignature signature;
    };
    /// A picture file as it is on disk now.
    struct Key {
        std::string path;
        uint64_t size = 0;
        int64_t modifiedNs = 0;
    };

    /// $XDG_CACHE_HOME/tesserix/signatures, else ~/.cache/tesserix/signatures;
    /// empty when neither folder is known.
    static std::string defaultFile();
    /// The key of a file, or nothing when it cannot be looked at.
    static std::optional<Key> keyOf(const std::string& path);

    /// An empty cache that saves to the file.
    explicit SignatureCache(std::string file = {}) : m_file(std::move(file)) {}
    SignatureCache(const SignatureCache&) = delete;
    SignatureCache& operator=(const SignatureCache&) = delete;
    /// Reads the file; a missing, damaged or foreign file leaves it empty.
    void readFile();
    /// The entries of the stored form; nothing when it is not one of ours.
    static std::optional<std::vector<std::pair<Key, Entry>>> parse(std::span<const uint8_t> bytes);
    std::vector<uint8_t> serialize() const;

    // Safe to call from several decoding threads at once.
    std::optional<Entry> find(const Key& key) const;
    void store(const Key& key, const Entry& entry);
    size_t size() const;

    /// Writes the file (through a temporary one) when anything was stored
    /// since it was read; creates its folder when needed.
    void save();

private:
    struct Stored {
        uint64_t size;
        int64_t modifiedNs;
        Entry entry;
    };
    std::string m_file;
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Stored> m_entries;
    bool m_changed = false;
};

}  // namespace tsx
