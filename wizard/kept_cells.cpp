#include "wizard/kept_cells.h"

#include <algorithm>

#include "wizard/signature_cache.h"

namespace tsx {

namespace {

size_t entryBytes(int cellWidth, int cellHeight)
{
    // both fits; an entry whose two fits are one picture is counted twice all the same
    return 2 * size_t(TDIB::widthBytesFor(cellWidth, 24)) * size_t(cellHeight);
}

}  // namespace

void KeptCellPictures::prepare(int cellWidth, int cellHeight, size_t budgetBytes)
{
    std::lock_guard lock(m_mutex);
    if (cellWidth != m_cellWidth || cellHeight != m_cellHeight) {
        m_kept.clear();
        m_bytes = 0;
    }
    m_cellWidth = std::max(cellWidth, 0);
    m_cellHeight = std::max(cellHeight, 0);
    m_budget = budgetBytes;
    m_hits = 0;
}

bool KeptCellPictures::wants() const
{
    std::lock_guard lock(m_mutex);
    return m_cellWidth > 0 && m_cellHeight > 0 && m_bytes + entryBytes(m_cellWidth, m_cellHeight) <= m_budget;
}

bool KeptCellPictures::keep(const std::string& path, const TDIB& stretched, const TDIB& cropped)
{
    const std::optional<SignatureCache::Key> key = SignatureCache::keyOf(path);
    if (!key)
        return false;
    std::lock_guard lock(m_mutex);
    if (stretched.Width() != m_cellWidth || stretched.Height() != m_cellHeight || cropped.Width() != m_cellWidth
        || cropped.Height() != m_cellHeight)
        return false;
    const size_t bytes = entryBytes(m_cellWidth, m_cellHeight);
    const bool known = m_kept.count(path) != 0;
    if (!known && m_bytes + bytes > m_budget)
        return false;
    if (!known)
        m_bytes += bytes;
    m_kept.insert_or_assign(path, Kept{key->size, key->modifiedNs, stretched, cropped});
    return true;
}

std::optional<TDIB> KeptCellPictures::find(const std::string& path, int cellWidth, int cellHeight, bool stretch) const
{
    {
        std::lock_guard lock(m_mutex);
        if (cellWidth != m_cellWidth || cellHeight != m_cellHeight || m_kept.find(path) == m_kept.end())
            return std::nullopt;
    }
    // a picture changed on disk since the load is decoded as it is now
    const std::optional<SignatureCache::Key> key = SignatureCache::keyOf(path);
    std::lock_guard lock(m_mutex);
    const auto it = m_kept.find(path);
    if (!key || it == m_kept.end() || it->second.size != key->size || it->second.modifiedNs != key->modifiedNs)
        return std::nullopt;
    ++m_hits;
    return stretch ? it->second.stretched : it->second.cropped;
}

void KeptCellPictures::clear()
{
    std::lock_guard lock(m_mutex);
    m_kept.clear();
    m_bytes = 0;
}

size_t KeptCellPictures::size() const
{
    std::lock_guard lock(m_mutex);
    return m_kept.size();
}

size_t KeptCellPictures::hits() const
{
    std::lock_guard lock(m_mutex);
    return m_hits;
}

}  // namespace tsx
