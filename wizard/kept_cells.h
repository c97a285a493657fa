// Cell pictures made while a folder load had the files' pixels in hand, kept
// so that a render at that cell size draws them without decoding the files
// again. Both fits are kept, since the wizard's last step chooses between
// stretching and cutting the edges only after the load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "raster/dib.h"

namespace tsx {

class KeptCellPictures {
public:
    /// Keeps pictures for cells of width × height from now on, in at most
    /// budgetBytes; what was kept for another size is dropped.
    void prepare(int cellWidth, int cellHeight, size_t budgetBytes);
    /// True while a cell size is set and another picture would fit.
    bool wants() const;
    int cellWidth() const { return m_cellWidth; }
    int cellHeight() const { return m_cellHeight; }

    /// Keeps the file's picture in both fits, as the file is on disk now.
    /// False when the budget is full or the file cannot be looked at.
    bool keep(const std::string& path, const TDIB& stretched, const TDIB& cropped);
    /// The kept picture for a cell of that size and fit, when there is one and
    /// the file has not changed since. Safe to call from several threads.
    std::optional<TDIB> find(const std::string& path, int cellWidth, int cellHeight, bool stretch) const;

    void clear();
    size_t size() const;
    /// Pictures find has given since the last prepare.
    size_t hits() const;

private:
    struct Kept {
        uint64_t size;
        int64_t modifiedNs;
        TDIB stretched, cropped;
    };
    mutable std::mutex m_mutex;
    int m_cellWidth = 0, m_cellHeight = 0;
    size_t m_budget = 0, m_bytes = 0;
    mutable size_t m_hits = 0;
    std::unordered_map<std::string, Kept> m_kept;
};

}  // namespace tsx
