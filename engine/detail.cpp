#include "engine/detail.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

#include "engine/mosaic_job.h"
#include "engine/random.h"
#include "engine/render.h"
#include "raster/errors.h"

#ifdef __SSE2__
#include <xmmintrin.h>
#endif

namespace tsx {

namespace {

// The lightness weight of the detail distance, measured with bench_detail
// --quick (48 x 36 cells from 300 photograph-like pictures, 3 x 3 grid):
// SSIM at 4 px a cell 0.353, 0.405, 0.425, 0.453, 0.473 for weights 1, 2,
// 3, 4, 6, PSNR at 1 px a cell 45.3..45.9 dB throughout (the colour shift
// restores each cell's mean). Past 4 the gain per step halves while the
// colour of the sub-cells counts for ever less, so 4 it is.
constexpr float kDetailLightnessWeight = 4.0f;

double exactLinearFromSrgb(double v)
{
    v /= 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// A cell's colours take millions of conversions; a table, interpolated
// linearly at 1/16 of a level, is within 2e-6 of the curve.
double linearFromSrgb(double v)
{
    constexpr int kSteps = 16;
    static const std::vector<double> table = [] {
        std::vector<double> t(255 * kSteps + 2);
        for (size_t i = 0; i < t.size(); ++i)
            t[i] = exactLinearFromSrgb(double(i) / kSteps);
        return t;
    }();
    const double x = std::clamp(v, 0.0, 255.0) * kSteps;
    const size_t i = size_t(x);
    return table[i] + (table[i + 1] - table[i]) * (x - double(i));
}

double exactLabCurve(double t)
{
    constexpr double kDelta = 6.0 / 29.0;
    return t > kDelta * kDelta * kDelta ? std::cbrt(t) : t / (3 * kDelta * kDelta) + 4.0 / 29.0;
}

// Tabled as the sRGB curve: within 1e-5 of the cube root above its linear
// toe; values past white (t a little over 1) take the curve itself.
double labCurve(double t)
{
    constexpr int kSteps = 8192;
    static const std::vector<double> table = [] {
        std::vector<double> v(kSteps + 2);
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = exactLabCurve(double(i) / kSteps);
        return v;
    }();
    if (!(t >= 0 && t < 1))
        return exactLabCurve(t);
    const double x = t * kSteps;
    const size_t i = size_t(x);
    return table[i] + (table[i + 1] - table[i]) * (x - double(i));
}

// For each grid cell along one axis, the pixels it covers and how much of each.
struct Coverage {
    int first = 0;
    std::vector<double> weight;  // of pixels first, first + 1, ...
};

std::vector<Coverage> axisCoverage(double from, double to, int cells, int pixels)
{
    std::vector<Coverage> out(size_t(std::max(cells, 0)));
    const double step = (to - from) / cells;
    for (int g = 0; g < cells; ++g) {
        const double a = std::clamp(from + step * g, 0.0, double(pixels));
        const double b = std::clamp(g + 1 == cells ? to : from + step * (g + 1), 0.0, double(pixels));
        Coverage& c = out[size_t(g)];
        c.first = int(std::floor(a));
        for (int p = c.first; p < pixels && p < b; ++p)
            c.weight.push_back(std::min(b, double(p + 1)) - std::max(a, double(p)));
    }
    return out;
}

// Area averages of an nx × ny grid over area (blue, green, red rasters give
// red, green, blue results).
std::vector<double> averagesOver(const TDIB& raster, const std::vector<Coverage>& columns,
                                 const std::vector<Coverage>& rows)
{
    const int nx = int(columns.size()), ny = int(rows.size());
    std::vector<double> out(size_t(nx) * size_t(ny) * 3, 0.0);
    std::vector<double> rowSums(size_t(nx) * 3);
    for (int gy = 0; gy < ny; ++gy) {
        const Coverage& cy = rows[size_t(gy)];
        double* cellOut = &out[size_t(gy) * size_t(nx) * 3];
        double areaY = 0;
        for (size_t j = 0; j < cy.weight.size(); ++j) {
            const uint8_t* line = raster.ScanLine(cy.first + int(j));
            std::fill(rowSums.begin(), rowSums.end(), 0.0);
            for (int gx = 0; gx < nx; ++gx) {
                const Coverage& cx = columns[size_t(gx)];
                const uint8_t* p = line + size_t(cx.first) * 3;
                double r = 0, g = 0, b = 0;
                for (size_t i = 0; i < cx.weight.size(); ++i, p += 3) {
                    const double w = cx.weight[i];
                    b += w * p[0];
                    g += w * p[1];
                    r += w * p[2];
                }
                const double wy = cy.weight[j];
                cellOut[gx * 3 + 0] += wy * r;
                cellOut[gx * 3 + 1] += wy * g;
                cellOut[gx * 3 + 2] += wy * b;
            }
            areaY += cy.weight[j];
        }
        for (int gx = 0; gx < nx; ++gx) {
            double areaX = 0;
            for (double w : columns[size_t(gx)].weight)
                areaX += w;
            const double total = areaX * areaY;
            for (int ch = 0; ch < 3; ++ch)
                cellOut[gx * 3 + ch] = total > 0 ? cellOut[gx * 3 + ch] / total : 0.0;
        }
    }
    return out;
}

std::vector<double> gridAverages(const TDIB& raster, const AreaRect& area, int nx, int ny)
{
    if (raster.IsEmpty() || nx <= 0 || ny <= 0)
        return std::vector<double>(size_t(std::max(nx, 0)) * size_t(std::max(ny, 0)) * 3, 0.0);
    return averagesOver(raster, axisCoverage(area.left, area.right, nx, raster.Width()),
                        axisCoverage(area.top, area.bottom, ny, raster.Height()));
}

TDIB as24Bit(const TDIB& raster)
{
    TDIB copy = raster;
    if (!copy.IsEmpty() && copy.BitCount() != 24)
        copy.ChangeBitCount(24);
    return copy;
}

// Grids packed for the distance: lightness, a, b of every sub-cell in runs
// padded with zeros to whole groups of four (a padded lane adds sqrt(0)).
int paddedCells(int grid) { return (grid * grid + 3) / 4 * 4; }

void packGrid(const Lab* grid, int g2, int padded, float* out)
{
    for (int s = 0; s < padded; ++s) {
        const Lab c = s < g2 ? grid[s] : Lab{};
        out[s] = c.L;
        out[padded + s] = c.a;
        out[2 * padded + s] = c.b;
    }
}

// Four lanes summed apart and then together, in the same order with and
// without vector code, so both give the same bits.
float packedDistance(const float* p, const float* c, int padded)
{
#ifdef __SSE2__
    const __m128 weight = _mm_set1_ps(kDetailLightnessWeight);
    __m128 sum = _mm_setzero_ps();
    for (int s = 0; s < padded; s += 4) {
        const __m128 dl = _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(p + s), _mm_loadu_ps(c + s)), weight);
        const __m128 da = _mm_sub_ps(_mm_loadu_ps(p + padded + s), _mm_loadu_ps(c + padded + s));
        const __m128 db = _mm_sub_ps(_mm_loadu_ps(p + 2 * padded + s), _mm_loadu_ps(c + 2 * padded + s));
        sum = _mm_add_ps(sum, _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(dl, dl), _mm_mul_ps(da, da)),
                                                     _mm_mul_ps(db, db))));
    }
    alignas(16) float lane[4];
    _mm_store_ps(lane, sum);
#else
    float lane[4] = { 0, 0, 0, 0 };
    for (int s = 0; s < padded; ++s) {
        const float dl = (p[s] - c[s]) * kDetailLightnessWeight;
        const float da = p[padded + s] - c[padded + s], db = p[2 * padded + s] - c[2 * padded + s];
        lane[s % 4] += std::sqrt(dl * dl + da * da + db * db);
    }
#endif
    return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

constexpr float kNone = std::numeric_limits<float>::infinity();
constexpr int kSlots = 8;

// The eight nearest eligible pictures of a cell, ranked by distance and,
// among equal distances, by index (pictures are offered in index order, and
// a later one takes a slot only when strictly nearer than the worst).
struct Candidates {
    std::array<int, kSlots> picture{};
    std::array<float, kSlots> distance{};
    int worstSlot = 0;

    void reset()
    {
        distance.fill(kNone);
        worstSlot = 0;
    }
    float worst() const { return distance[size_t(worstSlot)]; }
    // Whether picture index at distance d ranks before the worst held.
    bool beats(int index, float d) const
    {
        const float w = worst();
        return w == kNone || d < w || (d == w && index < picture[size_t(worstSlot)]);
    }
    // Pictures whose squared bound is below this may beat the worst. The
    // bound lies strictly below every distance above 0, so an equal bound
    // loses, except at 0, where the index decides.
    float boundLimit() const
    {
        const float w = worst();
        if (w == kNone)
            return kNone;
        return w > 0 ? w * w : std::numeric_limits<float>::denorm_min();
    }
    void offer(int index, float d)
    {
        picture[size_t(worstSlot)] = index;
        distance[size_t(worstSlot)] = d;
        // the worst: an empty slot (the first), else the largest distance and
        // among equals the largest index
        int w = 0;
        for (int s = 1; s < kSlots; ++s)
            if (worse(s, w))
                w = s;
        worstSlot = w;
    }
    bool worse(int s, int w) const
    {
        const float ds = distance[size_t(s)], dw = distance[size_t(w)];
        if (dw == kNone)
            return false;
        if (ds == kNone)
            return true;
        return ds > dw || (ds == dw && picture[size_t(s)] > picture[size_t(w)]);
    }
    int filled() const
    {
        return int(std::count_if(distance.begin(), distance.end(), [](float d) { return d != kNone; }));
    }
    void sort()
    {
        std::array<int, kSlots> order{};
        for (int s = 0; s < kSlots; ++s)
            order[size_t(s)] = s;
        std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return worse(y, x); });
        const auto p = picture;
        const auto d = distance;
        for (int s = 0; s < kSlots; ++s) {
            picture[size_t(s)] = p[size_t(order[size_t(s)])];
            distance[size_t(s)] = d[size_t(order[size_t(s)])];
        }
    }
};

// The detail distance is bounded below by grid² times the weighted distance
// of the two grids' means (the triangle inequality), which is cheap: most
// pictures are passed over on it. The bound is shrunk a little so float
// rounding never passes over a picture that would have qualified.
constexpr float kBoundSlack = 0.999f;

class DetailPlacer {
public:
    DetailPlacer(MosaicJob& job, Random& random, int n, const DetailSignatures& pictures, const CellDetail& cells)
        : m_job(job), m_random(random), m_n(n), m_pictures(pictures), m_cells(cells)
    {
        const MosaicSettings& s = job.settings;
        m_limitRepeat = s.limitRepeat;
        m_maxRepeat = s.maxRepeat;
        m_noClose = s.noClose;
        m_draws = s.randomLevel > 1 ? s.randomLevel - 1 : 0;
        const int g2 = cells.grid * cells.grid;
        m_boundScale = float(g2) * float(g2) * kBoundSlack * kBoundSlack;

        m_sig.resize(size_t(n));
        m_useCount.assign(size_t(n), 0);
        meansOf(pictures.colours, size_t(n), g2, m_picL, m_picA, m_picB);
        // By lightness, in whole groups of four for the vector scan; the
        // padding names no picture.
        std::vector<int> order(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            order[size_t(i)] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](int x, int y) { return m_picL[size_t(x)] < m_picL[size_t(y)]; });
        const size_t padded = (size_t(n) + 3) / 4 * 4 + 4;
        m_sortedL.assign(padded, 1e18f);
        m_sortedA.assign(padded, 1e18f);
        m_sortedB.assign(padded, 1e18f);
        m_sortedIndex.assign(padded, -1);
        for (size_t p = 0; p < size_t(n); ++p) {
            const size_t i = size_t(order[p]);
            m_sortedL[p] = m_picL[i];
            m_sortedA[p] = m_picA[i];
            m_sortedB[p] = m_picB[i];
            m_sortedIndex[p] = int(i);
        }
        for (int i = 0; i < n; ++i) {
            m_sig[size_t(i)] = signatureAt(job.workingSignatures, size_t(i));
            m_useCount[size_t(i)] = m_sig[size_t(i)].useCount;
        }
        const size_t cellCount = size_t(cells.rows) * size_t(cells.cols);
        meansOf(cells.colours, cellCount, g2, m_cellL, m_cellA, m_cellB);
        m_padded = paddedCells(cells.grid);
        const size_t stride = 3 * size_t(m_padded);
        m_packedPictures.resize(size_t(n) * stride);
        for (size_t i = 0; i < size_t(n); ++i)
            packGrid(&pictures.colours[i * size_t(g2)], g2, m_padded, &m_packedPictures[i * stride]);
        m_packedCells.resize(cellCount * stride);
        for (size_t k = 0; k < cellCount; ++k)
            packGrid(&cells.colours[k * size_t(g2)], g2, m_padded, &m_packedCells[k * stride]);
        m_occupied.assign(cellCount, 0);
        m_bound.resize(std::max(size_t(n), cellCount));
        m_offered.assign(size_t(n), 0);
    }

    void useAllPass()
    {
        const size_t cellCount = m_occupied.size();
        for (int i = 0; i < m_n; ++i) {
            boundsTo(m_picL[size_t(i)], m_picA[size_t(i)], m_picB[size_t(i)], m_cellL, m_cellA, m_cellB, cellCount);
            float best = kNone;
            size_t bestCell = cellCount;
            for (size_t k = 0; k < cellCount; ++k) {
                if (m_occupied[k] || !(m_bound[k] < best * best))
                    continue;
                const float d = distance(size_t(i), k);
                if (d < best) {
                    best = d;
                    bestCell = k;
                }
            }
            // With every cell taken the picture is left out rather than
            // pushing out a picture already placed.
            if (bestCell < cellCount)
                place(i, bestCell);
        }
    }

    void mainPass()
    {
        if (m_n == 0)
            return;
        const int rows = m_cells.rows, cols = m_cells.cols;
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                const size_t cell = size_t(r) * size_t(cols) + size_t(c);
                if (m_occupied[cell])
                    continue;
                std::array<int, 3> excluded{-1, -1, -1};
                if (m_noClose) {
                    if (c > 0)
                        excluded[0] = m_job.placementGrid.at(c - 1, r).imageIndex;
                    if (r > 0)
                        excluded[1] = m_job.placementGrid.at(c, r - 1).imageIndex;
                    if (c > 0 && r > 0)
                        excluded[2] = m_job.placementGrid.at(c - 1, r - 1).imageIndex;
                }
                m_candidates.reset();
                collect(cell, excluded, true);
                // as the mean-colour placement: past the repetition limit
                // when nothing else is left, then next to a copy
                if (m_candidates.filled() == 0) {
                    m_candidates.reset();
                    collect(cell, excluded, false);
                }
                if (m_candidates.filled() == 0) {
                    m_candidates.reset();
                    collect(cell, {-1, -1, -1}, false);
                }
                m_candidates.sort();
                remember();
                const int j = m_random.next(std::min(m_draws, m_candidates.filled()));
                place(m_candidates.picture[size_t(j)], cell);
            }
        }
    }

    void writeUseCounts()
    {
        for (int i = 0; i < m_n; ++i) {
            CellSignature sig = signatureAt(m_job.workingSignatures, size_t(i));
            sig.useCount = m_useCount[size_t(i)];
            setSignatureAt(m_job.workingSignatures, size_t(i), sig);
        }
    }

private:
    static void meansOf(const std::vector<Lab>& grids, size_t count, int g2, std::vector<float>& L,
                        std::vector<float>& A, std::vector<float>& B)
    {
        L.assign(count, 0);
        A.assign(count, 0);
        B.assign(count, 0);
        for (size_t i = 0; i < count; ++i) {
            double l = 0, a = 0, b = 0;
            for (int k = 0; k < g2; ++k) {
                const Lab& c = grids[i * size_t(g2) + size_t(k)];
                l += c.L;
                a += c.a;
                b += c.b;
            }
            L[i] = float(l / g2) * kDetailLightnessWeight;
            A[i] = float(a / g2);
            B[i] = float(b / g2);
        }
    }

    // Squared lower bounds, times grid⁴, of one mean against many.
    void boundsTo(float l, float a, float b, const std::vector<float>& L, const std::vector<float>& A,
                  const std::vector<float>& B, size_t count)
    {
        float* out = m_bound.data();
        const float* pl = L.data();
        const float* pa = A.data();
        const float* pb = B.data();
        const float scale = m_boundScale;
        for (size_t i = 0; i < count; ++i) {
            const float dl = pl[i] - l, da = pa[i] - a, db = pb[i] - b;
            out[i] = scale * (dl * dl + da * da + db * db);
        }
    }

    // Offers every eligible picture that can rank among the eight. The
    // ranking does not depend on the order of the offers, so the previous
    // cell's candidates go first: neighbouring cells look alike, and the
    // list is then nearly final before the scan, which passes over most
    // pictures on their bound alone.
    void collect(size_t cell, const std::array<int, 3>& excluded, bool repetitionLimit)
    {
        ++m_stamp;
        auto eligible = [&](int i) {
            if (repetitionLimit && m_limitRepeat && int64_t(m_useCount[size_t(i)]) + 1 > m_maxRepeat)
                return false;
            return i != excluded[0] && i != excluded[1] && i != excluded[2];
        };
        for (int h = 0; h < m_hintCount; ++h) {
            const int i = m_hint[size_t(h)];
            if (m_offered[size_t(i)] == m_stamp || !eligible(i))
                continue;
            m_offered[size_t(i)] = m_stamp;
            const float d = distance(size_t(i), cell);
            if (m_candidates.beats(i, d))
                m_candidates.offer(i, d);
        }
        const float cl = m_cellL[cell], ca = m_cellA[cell], cb = m_cellB[cell];
        float limit = m_candidates.boundLimit();
        auto consider = [&](int i) {
            if (m_offered[size_t(i)] == m_stamp || !eligible(i))
                return;
            const float d = distance(size_t(i), cell);
            if (m_candidates.beats(i, d)) {
                m_candidates.offer(i, d);
                limit = m_candidates.boundLimit();
            }
        };
        // Pictures sorted by lightness: only those within the limit's reach
        // of the cell's lightness can qualify, the rest are not looked at.
        size_t from = 0, to = size_t(m_n);
        if (limit != kNone) {
            const float reach = std::sqrt(limit / m_boundScale);
            const auto first = m_sortedL.begin(), last = m_sortedL.begin() + m_n;
            from = size_t(std::lower_bound(first, last, cl - reach) - first);
            to = size_t(std::upper_bound(first, last, cl + reach) - first);
        }
        const float* pl = m_sortedL.data();
        const float* pa = m_sortedA.data();
        const float* pb = m_sortedB.data();
#ifdef __SSE2__
        const __m128 vl = _mm_set1_ps(cl), va = _mm_set1_ps(ca), vb = _mm_set1_ps(cb);
        const __m128 scale = _mm_set1_ps(m_boundScale);
        for (size_t g = from / 4 * 4; g < to; g += 4) {
            const __m128 dl = _mm_sub_ps(_mm_loadu_ps(pl + g), vl);
            const __m128 da = _mm_sub_ps(_mm_loadu_ps(pa + g), va);
            const __m128 db = _mm_sub_ps(_mm_loadu_ps(pb + g), vb);
            const __m128 q = _mm_mul_ps(
                scale, _mm_add_ps(_mm_add_ps(_mm_mul_ps(dl, dl), _mm_mul_ps(da, da)), _mm_mul_ps(db, db)));
            int lanes = _mm_movemask_ps(_mm_cmplt_ps(q, _mm_set1_ps(limit)));
            if (lanes == 0)
                continue;
            alignas(16) float bound[4];
            _mm_store_ps(bound, q);
            for (; lanes != 0; lanes &= lanes - 1) {
                const int k = std::countr_zero(unsigned(lanes));
                const int i = m_sortedIndex[g + size_t(k)];
                if (i >= 0 && bound[k] < limit)  // the limit may have fallen since
                    consider(i);
            }
        }
#else
        for (size_t p = from; p < to; ++p) {
            const float dl = pl[p] - cl, da = pa[p] - ca, db = pb[p] - cb;
            if (m_boundScale * (dl * dl + da * da + db * db) < limit)
                consider(m_sortedIndex[p]);
        }
#endif
    }

    float distance(size_t picture, size_t cell) const
    {
        const size_t stride = 3 * size_t(m_padded);
        return packedDistance(&m_packedPictures[picture * stride], &m_packedCells[cell * stride], m_padded);
    }

    void remember()
    {
        m_hintCount = m_candidates.filled();
        for (int h = 0; h < m_hintCount; ++h)
            m_hint[size_t(h)] = m_candidates.picture[size_t(h)];
    }

    void place(int picture, size_t cell)
    {
        const int cols = m_cells.cols;
        CellPlacement& p = m_job.placementGrid.at(int(cell % size_t(cols)), int(cell / size_t(cols)));
        const uint8_t* mean = &m_cells.meanBgr[cell * 3];
        const CellSignature& sig = m_sig[size_t(picture)];
        p.imageIndex = picture;
        p.redOffset = sig.red - mean[2];
        p.greenOffset = sig.green - mean[1];
        p.blueOffset = sig.blue - mean[0];
        p.occupied = 1;
        m_occupied[cell] = 1;
        int32_t& count = m_useCount[size_t(picture)];
        count = int32_t(uint32_t(count) + 1u);
    }

    MosaicJob& m_job;
    Random& m_random;
    int m_n;
    const DetailSignatures& m_pictures;
    const CellDetail& m_cells;
    bool m_limitRepeat = false;
    int64_t m_maxRepeat = 0;
    bool m_noClose = false;
    int m_draws = 0;
    float m_boundScale = 1;

    std::vector<CellSignature> m_sig;
    std::vector<int32_t> m_useCount;
    std::vector<float> m_picL, m_picA, m_picB, m_cellL, m_cellA, m_cellB;
    std::vector<float> m_sortedL, m_sortedA, m_sortedB;
    std::vector<int> m_sortedIndex;
    int m_padded = 0;
    std::vector<float> m_packedPictures, m_packedCells;
    std::vector<uint8_t> m_occupied;
    std::vector<float> m_bound;
    Candidates m_candidates;
    std::array<int, kSlots> m_hint{};
    int m_hintCount = 0;
    std::vector<uint32_t> m_offered;  // m_stamp once offered for the cell at hand
    uint32_t m_stamp = 0;
};

}  // namespace

Lab labFromRgb(double red, double green, double blue)
{
    const double r = linearFromSrgb(red), g = linearFromSrgb(green), b = linearFromSrgb(blue);
    // sRGB primaries, D65 white
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883;
    const double fx = labCurve(x), fy = labCurve(y), fz = labCurve(z);
    return Lab{ float(116 * fy - 16), float(500 * (fx - fy)), float(200 * (fy - fz)) };
}

std::vector<double> gridAverages(const TDIB& raster, const AreaRect& area, int n)
{
    return gridAverages(as24Bit(raster), area, n, n);
}

void appendDetailSignature(DetailSignatures& out, const TDIB& picture, int cellWidth, int cellHeight,
                           bool stretchCells)
{
    const int n = out.grid;
    if (picture.IsEmpty()) {
        out.colours.insert(out.colours.end(), size_t(n * n), labFromRgb(0, 0, 0));
        return;
    }
    const TDIB raster = as24Bit(picture);
    const TRect from = cellSourceRect(raster.Width(), raster.Height(), cellWidth, cellHeight, stretchCells);
    const std::vector<double> rgb =
        gridAverages(raster, AreaRect{ double(from.Left), double(from.Top), double(from.Right), double(from.Bottom) },
                     n, n);
    for (int k = 0; k < n * n; ++k)
        out.colours.push_back(labFromRgb(rgb[size_t(k) * 3], rgb[size_t(k) * 3 + 1], rgb[size_t(k) * 3 + 2]));
}

CellDetail computeCellDetail(const TDIB& source, int rows, int cols, int grid, int redAdjust, int greenAdjust,
                             int blueAdjust, bool mono)
{
    CellDetail out;
    out.grid = grid;
    out.rows = rows;
    out.cols = cols;
    const size_t cells = size_t(rows) * size_t(cols);
    const int g2 = grid * grid;
    out.colours.resize(cells * size_t(g2));
    out.meanBgr.assign(cells * 3, 0);
    TDIB adjusted = as24Bit(source);
    if (!adjusted.IsEmpty() && (redAdjust != 0 || greenAdjust != 0 || blueAdjust != 0 || mono))
        adjustColours(adjusted, redAdjust, greenAdjust, blueAdjust, mono);  // writes a copy
    // a band of one cell row at a time keeps the averages small
    const int nx = cols * grid;
    const double bandHeight = adjusted.IsEmpty() ? 0 : double(adjusted.Height()) / rows;
    const std::vector<Coverage> columns =
        adjusted.IsEmpty() ? std::vector<Coverage>{} : axisCoverage(0, adjusted.Width(), nx, adjusted.Width());
    for (int r = 0; r < rows; ++r) {
        const std::vector<double> rgb =
            adjusted.IsEmpty()
                ? std::vector<double>(size_t(nx) * size_t(grid) * 3, 0.0)
                : averagesOver(adjusted, columns,
                               axisCoverage(bandHeight * r, r + 1 == rows ? adjusted.Height() : bandHeight * (r + 1),
                                            grid, adjusted.Height()));
        for (int c = 0; c < cols; ++c) {
            const size_t cell = size_t(r) * size_t(cols) + size_t(c);
            double sum[3] = { 0, 0, 0 };
            for (int gy = 0; gy < grid; ++gy) {
                for (int gx = 0; gx < grid; ++gx) {
                    const double* px = &rgb[(size_t(gy) * size_t(nx) + size_t(c) * grid + size_t(gx)) * 3];
                    out.colours[cell * size_t(g2) + size_t(gy * grid + gx)] = labFromRgb(px[0], px[1], px[2]);
                    for (int ch = 0; ch < 3; ++ch)
                        sum[ch] += px[ch];
                }
            }
            for (int ch = 0; ch < 3; ++ch)
                out.meanBgr[cell * 3 + size_t(2 - ch)] = uint8_t(clampByte(int(std::lround(sum[ch] / g2))));
        }
    }
    return out;
}

float detailDistance(const DetailSignatures& pictures, size_t i, const CellDetail& cells, size_t k)
{
    const int g2 = cells.grid * cells.grid, padded = paddedCells(cells.grid);
    float p[3 * 16], c[3 * 16];
    packGrid(&pictures.colours[i * size_t(g2)], g2, padded, p);
    packGrid(&cells.colours[k * size_t(g2)], g2, padded, c);
    return packedDistance(p, c, padded);
}

void placeCellsByDetail(MosaicJob& job, Random& random, int imageCount, const DetailSignatures& pictures,
                        const CellDetail& cells)
{
    if (pictures.grid != cells.grid || pictures.count() < size_t(imageCount) || cells.rows != job.settings.rows ||
        cells.cols != job.settings.cols)
        throw EInvalidGraphicOperation("The detail colours do not match the pictures and cells");
    DetailPlacer placer(job, random, imageCount, pictures, cells);
    if (job.settings.useAll)
        placer.useAllPass();
    placer.mainPass();
    placer.writeUseCounts();
}

}  // namespace tsx
