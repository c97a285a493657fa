#include "raster/ui/area_reduce.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace tsx {

namespace {

// The coverage of one axis on a common integer grid: target pixel i spans
// [i * a, (i + 1) * a) and source pixel j spans [j * b, (j + 1) * b), where a
// and b are the source and target lengths divided by their gcd. In a
// reduction (a >= b) target pixel i takes a partial first pixel, whole
// pixels of weight b between, and a partial last pixel.
struct Coverage {
    int64_t a = 1, b = 1;
    struct Span {
        int first = 0, last = 0;  // source pixels, inclusive
        uint32_t firstWeight = 0, lastWeight = 0;
    };
    Span span(int64_t i) const
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
};

Coverage coverage(int srcLength, int dstLength)
{
    const int64_t g = std::gcd(int64_t(srcLength), int64_t(dstLength));
    return Coverage{ srcLength / g, dstLength / g };
}

// Adds a source row to 16-bit sums: the pass over every source byte, a
// widening add the compiler turns into vector code.
void addRow(uint16_t* __restrict sums, const uint8_t* __restrict row, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        sums[i] = uint16_t(sums[i] + row[i]);
}

// Adds weight times a source row (the partly covered rows at a band's edges).
void addWeightedRow(uint32_t* __restrict sums, const uint8_t* __restrict row, uint32_t weight, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        sums[i] += weight * row[i];
}

void flush(uint32_t* __restrict wide, uint16_t* __restrict narrow, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i) {
        wide[i] += narrow[i];
        narrow[i] = 0;
    }
}

}  // namespace

bool canReduceAreaAverage(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
{
    // the limit keeps a column's interior sum within 32 bits
    constexpr int kMaxSide = 1 << 20;
    return dstWidth > 0 && dstHeight > 0 && srcWidth >= dstWidth && srcHeight >= dstHeight && srcWidth <= kMaxSide
        && srcHeight <= kMaxSide;
}

void coveredSourceRows(int srcHeight, int dstHeight, int firstRow, int endRow, int& first, int& end)
{
    first = int(int64_t(firstRow) * srcHeight / dstHeight);
    end = int(std::min<int64_t>(srcHeight, (int64_t(endRow) * srcHeight + dstHeight - 1) / dstHeight));
}

void reduceAreaAverageRows(int srcWidth, int srcHeight, const std::function<const uint8_t*(int)>& sourceRow,
                           TDIB& dst, int firstRow, int endRow)
{
    const int width = dst.Width(), height = dst.Height();
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, height);
    if (firstRow >= endRow || !canReduceAreaAverage(srcWidth, srcHeight, width, height))
        return;
    const Coverage cx = coverage(srcWidth, width), cy = coverage(srcHeight, height);
    std::vector<Coverage::Span> columns(static_cast<size_t>(width));
    for (int k = 0; k < width; ++k)
        columns[size_t(k)] = cx.span(k);
    // round(sum / total), halves up, as the raster's own filter rounds
    const uint64_t total = uint64_t(cx.a) * uint64_t(cy.a);
    const size_t bytes = size_t(srcWidth) * 3;
    // Per source byte, over the rows of one target row: the wholly covered
    // rows summed in 16 bits (257 rows of 255 fit) and carried into 32 bits,
    // the partly covered ones weighted. b times the first plus the second is
    // below 2^32, since a column's weights add up to a <= 2^20.
    constexpr int kRowsPer16Bits = 257;
    std::vector<uint16_t> inner16(bytes);
    std::vector<uint32_t> inner(bytes), edges(bytes), columnSums(bytes);

    for (int i = firstRow; i < endRow; ++i) {
        const Coverage::Span rows = cy.span(i);
        std::fill(inner.begin(), inner.end(), 0u);
        std::fill(edges.begin(), edges.end(), 0u);
        int pending = 0;
        for (int y = rows.first; y <= rows.last; ++y) {
            const uint32_t wy = y == rows.first ? rows.firstWeight
                                                : (y == rows.last ? rows.lastWeight : uint32_t(cy.b));
            if (wy != uint32_t(cy.b)) {
                addWeightedRow(edges.data(), sourceRow(y), wy, bytes);
                continue;
            }
            addRow(inner16.data(), sourceRow(y), bytes);
            if (++pending == kRowsPer16Bits) {
                flush(inner.data(), inner16.data(), bytes);
                pending = 0;
            }
        }
        flush(inner.data(), inner16.data(), bytes);
        const uint32_t b = uint32_t(cy.b);
        for (size_t v = 0; v < bytes; ++v)
            columnSums[v] = b * inner[v] + edges[v];
        uint8_t* out = dst.RowPointer(i);
        for (int k = 0; k < width; ++k) {
            const Coverage::Span& c = columns[size_t(k)];
            const uint32_t* p = columnSums.data() + size_t(c.first) * 3;
            for (int channel = 0; channel < 3; ++channel) {
                uint64_t sum = uint64_t(c.firstWeight) * p[channel];
                if (c.last > c.first) {
                    uint64_t middle = 0;
                    for (int x = c.first + 1; x < c.last; ++x)
                        middle += columnSums[size_t(x) * 3 + size_t(channel)];
                    const uint32_t last = columnSums[size_t(c.last) * 3 + size_t(channel)];
                    sum += uint64_t(cx.b) * middle + uint64_t(c.lastWeight) * last;
                }
                out[3 * k + channel] = uint8_t((2 * sum + total) / (2 * total));
            }
        }
    }
}

}  // namespace tsx
