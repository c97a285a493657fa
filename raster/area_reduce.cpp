#include "raster/area_reduce.h"

#include <algorithm>
#include <numeric>

namespace tsx {

namespace {

// Versions for wider vector units, chosen when the program loads. The
// thread sanitizer cannot run code that early, so its build has one version.
#if defined(__SANITIZE_THREAD__)
#define TSX_VECTOR_CLONES
#else
#define TSX_VECTOR_CLONES __attribute__((target_clones("arch=skylake-avx512", "avx2", "default")))
#endif

// Adds a source row to 16-bit sums: the pass over every source byte, a
// widening add the compiler turns into vector code (wider where the
// processor has it).
TSX_VECTOR_CLONES void addRow(uint16_t* __restrict sums, const uint8_t* __restrict row, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        sums[i] = uint16_t(sums[i] + row[i]);
}

// Four rows at once: the sums are read and written a quarter as often.
TSX_VECTOR_CLONES void addFourRows(
    uint16_t* __restrict sums, const uint8_t* __restrict r0, const uint8_t* __restrict r1,
    const uint8_t* __restrict r2, const uint8_t* __restrict r3, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        sums[i] = uint16_t(sums[i] + uint16_t(r0[i] + r1[i]) + uint16_t(r2[i] + r3[i]));
}

// Adds weight times a source row (a row only partly covered).
void addWeightedRow(uint32_t* __restrict sums, const uint8_t* __restrict row, uint32_t weight, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        sums[i] += weight * row[i];
}

void carry(uint32_t* __restrict wide, uint16_t* __restrict narrow, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i) {
        wide[i] += narrow[i];
        narrow[i] = 0;
    }
}

// 257 rows of 255 still fit 16 bits
constexpr int kRowsPer16Bits = 257;

}  // namespace

bool canReduceAreaAverage(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
{
    // the limit keeps a column's sums within 32 bits
    constexpr int kMaxSide = 1 << 20;
    return dstWidth > 0 && dstHeight > 0 && srcWidth >= dstWidth && srcHeight >= dstHeight && srcWidth <= kMaxSide
        && srcHeight <= kMaxSide;
}

void coveredSourceRows(int srcHeight, int dstHeight, int firstRow, int endRow, int& first, int& end)
{
    first = int(int64_t(firstRow) * srcHeight / dstHeight);
    end = int(std::min<int64_t>(srcHeight, (int64_t(endRow) * srcHeight + dstHeight - 1) / dstHeight));
}

// The coverage of one axis on a common integer grid: target pixel i spans
// [i * a, (i + 1) * a) and source pixel j spans [j * b, (j + 1) * b), where a
// and b are the source and target lengths divided by their gcd. In a
// reduction (a >= b) target pixel i takes a partly covered first pixel,
// whole pixels of weight b, and a partly covered last pixel; a partly
// covered pixel is shared with the neighbouring target pixel.
AreaReducer::Span AreaReducer::span(int64_t a, int64_t b, int64_t i) const
{
    const int64_t lo = i * a, hi = lo + a;
    Span s;
    s.first = int(lo / b);
    s.last = int((hi - 1) / b);
    if (s.first == s.last) {
        s.firstWeight = uint32_t(a);
    } else {
        s.firstWeight = uint32_t((s.first + 1) * b - lo);
        s.lastWeight = uint32_t(hi - int64_t(s.last) * b);
    }
    return s;
}

bool AreaReducer::reduces(int srcWidth, int srcHeight, const TDIB& dst) const
{
    return m_dst == &dst && m_srcWidth == srcWidth && m_srcHeight == srcHeight
        && int(m_columns.size()) == dst.Width() && dst.Height() > 0
        && m_ay * dst.Height() == m_by * srcHeight;
}

bool AreaReducer::start(int srcWidth, int srcHeight, TDIB& dst, int firstRow)
{
    m_dst = nullptr;
    const int width = dst.Width(), height = dst.Height();
    if (!canReduceAreaAverage(srcWidth, srcHeight, width, height) || dst.BitCount() != 24)
        return false;
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    const int64_t gx = std::gcd(int64_t(srcWidth), int64_t(width));
    const int64_t gy = std::gcd(int64_t(srcHeight), int64_t(height));
    m_ax = srcWidth / gx;
    m_bx = width / gx;
    m_ay = srcHeight / gy;
    m_by = height / gy;
    m_columns.resize(size_t(width));
    for (int k = 0; k < width; ++k)
        m_columns[size_t(k)] = span(m_ax, m_bx, k);
    const size_t bytes = size_t(srcWidth) * 3;
    m_inner16.assign(bytes, 0);
    m_inner.assign(bytes, 0);
    m_edges.assign(bytes, 0);
    m_nextEdges.assign(bytes, 0);
    m_columnSums.assign(bytes, 0);
    m_dst = &dst;
    m_row = std::clamp(firstRow, 0, height);
    m_nextSource = m_srcHeight;
    if (m_row < height) {
        m_rows = span(m_ay, m_by, m_row);
        m_nextSource = m_rows.first;
    }
    m_pending = 0;
    return true;
}

void AreaReducer::feed(const uint8_t* row)
{
    if (!m_dst || m_row >= m_dst->Height())
        return;
    const size_t bytes = size_t(m_srcWidth) * 3;
    const int y = m_nextSource++;
    const uint32_t b = uint32_t(m_by);
    const uint32_t weight
        = y == m_rows.first ? m_rows.firstWeight : (y == m_rows.last ? m_rows.lastWeight : b);
    if (weight == b) {
        addRow(m_inner16.data(), row, bytes);
        if (++m_pending == kRowsPer16Bits) {
            carry(m_inner.data(), m_inner16.data(), bytes);
            m_pending = 0;
        }
    } else {
        addWeightedRow(m_edges.data(), row, weight, bytes);
    }
    if (y < m_rows.last)
        return;
    // the last row of a target row; when only partly covered, the rest of
    // it belongs to the next target row
    if (weight != b && m_row + 1 < m_dst->Height())
        addWeightedRow(m_nextEdges.data(), row, b - weight, bytes);
    finishRow();
}

void AreaReducer::feedUpTo(int endSource, const std::function<const uint8_t*(int)>& sourceRow)
{
    endSource = std::min(endSource, m_srcHeight);
    const size_t bytes = size_t(m_srcWidth) * 3;
    while (m_dst && m_row < m_dst->Height() && m_nextSource < endSource) {
        // four wholly covered rows of the current target row go in together
        const int y = m_nextSource;
        const bool inside = y > m_rows.first && y + 3 < m_rows.last && y + 3 < endSource;
        if (inside && m_pending + 4 <= kRowsPer16Bits) {
            addFourRows(m_inner16.data(), sourceRow(y), sourceRow(y + 1), sourceRow(y + 2), sourceRow(y + 3), bytes);
            m_pending += 4;
            m_nextSource += 4;
            continue;
        }
        if (inside) {
            carry(m_inner.data(), m_inner16.data(), bytes);
            m_pending = 0;
            continue;
        }
        feed(sourceRow(y));
    }
}

void AreaReducer::finishRow()
{
    const size_t bytes = size_t(m_srcWidth) * 3;
    carry(m_inner.data(), m_inner16.data(), bytes);
    const uint32_t b = uint32_t(m_by);
    // below 2^32: a column's weights add up to a <= 2^20, times 255
    for (size_t v = 0; v < bytes; ++v)
        m_columnSums[v] = b * m_inner[v] + m_edges[v];

    // round(sum / total), halves up, as the raster's own filter rounds
    const uint64_t total = uint64_t(m_ax) * uint64_t(m_ay);
    uint8_t* out = m_dst->RowPointer(m_row);
    for (size_t k = 0; k < m_columns.size(); ++k) {
        const Span& c = m_columns[k];
        for (size_t channel = 0; channel < 3; ++channel) {
            uint64_t sum = uint64_t(c.firstWeight) * m_columnSums[size_t(c.first) * 3 + channel];
            if (c.last > c.first) {
                uint64_t middle = 0;
                for (int x = c.first + 1; x < c.last; ++x)
                    middle += m_columnSums[size_t(x) * 3 + channel];
                const uint32_t last = m_columnSums[size_t(c.last) * 3 + channel];
                sum += uint64_t(m_bx) * middle + uint64_t(c.lastWeight) * last;
            }
            out[3 * k + channel] = uint8_t((2 * sum + total) / (2 * total));
        }
    }

    ++m_row;
    std::fill(m_inner.begin(), m_inner.end(), 0u);
    m_edges.swap(m_nextEdges);
    std::fill(m_nextEdges.begin(), m_nextEdges.end(), 0u);
    m_pending = 0;
    // the next target row starts at the row just fed (then its share is in
    // m_edges already) or at the one after; either way feeding goes on
    if (m_row < m_dst->Height())
        m_rows = span(m_ay, m_by, m_row);
    else
        m_nextSource = m_srcHeight;
}

void reduceAreaAverageRows(int srcWidth, int srcHeight, const std::function<const uint8_t*(int)>& sourceRow,
                           TDIB& dst, int firstRow, int endRow)
{
    AreaReducer reducer;
    if (!reducer.start(srcWidth, srcHeight, dst, firstRow))
        return;
    int first = 0, end = 0;
    coveredSourceRows(srcHeight, dst.Height(), firstRow, std::min(endRow, dst.Height()), first, end);
    reducer.feedUpTo(end, sourceRow);
}

}  // namespace tsx
