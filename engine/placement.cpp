#include "engine/placement.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <vector>

#include "raster/errors.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tsx {

namespace {

// Distances never exceed 765, so anything from 999 up is "not a candidate":
// an ineligible picture or an occupied cell carries this much extra.
constexpr int16_t kBarred = 1000;
constexpr int kNoDistance = 999;
constexpr int kSlots = 8;

// Pictures are scanned in groups of this many so the distance arithmetic of a
// group runs as vector code; most groups hold no picture nearer than the
// current worst candidate and are passed over after one comparison.
constexpr int kPictureGroup = 16;
// Cells of the use-all pass are grouped by colour into buckets and, inside a
// bucket, into blocks with a colour bounding box each.
constexpr int kCellBlock = 64;
constexpr int kBucketShift = 4;  // 16 levels per channel and bucket
constexpr int kBucketsPerChannel = 256 >> kBucketShift;

inline int16_t absDiff(int16_t a, int16_t b)
{
    const int16_t d = int16_t(a - b);
    return d < 0 ? int16_t(-d) : d;
}

// Bit k set for every distance d[k] below the limit.
inline uint32_t lanesBelow(const int16_t (&d)[kPictureGroup], int limit)
{
#ifdef __SSE2__
    static_assert(kPictureGroup == 16);
    const __m128i bound = _mm_set1_epi16(int16_t(limit));
    const __m128i low = _mm_cmplt_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d)), bound);
    const __m128i high = _mm_cmplt_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 8)), bound);
    return uint32_t(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
#else
    uint32_t lanes = 0;
    for (int k = 0; k < kPictureGroup; ++k)
        lanes |= uint32_t(d[k] < limit) << k;
    return lanes;
#endif
}

struct CellColours {
    int rows = 0, cols = 0;
    std::vector<int16_t> red, green, blue;  // row by row, padded to whole blocks
};

CellColours readCellColours(const MosaicJob& job, int rows, int cols)
{
    TDIB raster = job.cellColourRaster;  // shares the pixels
    if (raster.BitCount() != 24)
        raster.ChangeBitCount(24);
    if (raster.Width() < cols || raster.Height() < rows)
        throw EInvalidGraphicOperation(formatMessage("The cell colours (%dx%d) do not cover %d x %d cells",
                                                     raster.Width(), raster.Height(), cols, rows));
    CellColours colours;
    colours.rows = rows;
    colours.cols = cols;
    const size_t cells = size_t(rows) * size_t(cols);
    const size_t padded = (cells + kCellBlock - 1) / kCellBlock * kCellBlock;
    colours.red.assign(padded, 0);
    colours.green.assign(padded, 0);
    colours.blue.assign(padded, 0);
    for (int r = 0; r < rows; ++r) {
        const uint8_t* p = raster.ScanLine(r);
        for (int c = 0; c < cols; ++c, p += 3) {
            const size_t k = size_t(r) * size_t(cols) + size_t(c);
            colours.blue[k] = p[0];
            colours.green[k] = p[1];
            colours.red[k] = p[2];
        }
    }
    return colours;
}

// The free cells by colour, for the use-all pass: which free cell, first in
// row-by-row order among equals, lies nearest to a colour. Cells are sorted
// into colour buckets (row-by-row order kept inside each); a bucket or block
// whose colour range lies farther than the best cell found so far is not
// looked at, so a query reads only the cells of nearby colours.
class FreeCellIndex {
public:
    void build(const CellColours& colours)
    {
        const size_t cells = size_t(colours.rows) * size_t(colours.cols);
        constexpr size_t kBuckets = size_t(kBucketsPerChannel) * kBucketsPerChannel * kBucketsPerChannel;
        std::vector<uint32_t> bucketOf(cells);
        std::vector<size_t> counts(kBuckets, 0);
        for (size_t k = 0; k < cells; ++k) {
            bucketOf[k] = uint32_t((colours.red[k] >> kBucketShift) * kBucketsPerChannel * kBucketsPerChannel +
                                   (colours.green[k] >> kBucketShift) * kBucketsPerChannel +
                                   (colours.blue[k] >> kBucketShift));
            ++counts[bucketOf[k]];
        }
        // Each bucket padded to whole blocks with cells that never qualify.
        std::vector<size_t> start(kBuckets + 1, 0);
        for (size_t b = 0; b < kBuckets; ++b) {
            const size_t blocks = (counts[b] + kCellBlock - 1) / kCellBlock;
            start[b + 1] = start[b] + blocks * kCellBlock;
            if (counts[b] > 0)
                m_buckets.push_back(Bucket{uint32_t(b), start[b], start[b + 1]});
        }
        const size_t total = start[kBuckets];
        m_red.assign(total, 0);
        m_green.assign(total, 0);
        m_blue.assign(total, 0);
        m_bar.assign(total, kBarred);
        m_cell.assign(total, -1);
        m_position.assign(cells, 0);
        std::vector<size_t> next(start.begin(), start.end() - 1);
        for (size_t k = 0; k < cells; ++k) {
            const size_t at = next[bucketOf[k]]++;
            m_red[at] = colours.red[k];
            m_green[at] = colours.green[k];
            m_blue[at] = colours.blue[k];
            m_bar[at] = 0;
            m_cell[at] = int32_t(k);
            m_position[k] = at;
        }
        const size_t blocks = total / kCellBlock;
        m_low.assign(blocks * 3, 0);
        m_high.assign(blocks * 3, 0);
        for (size_t bl = 0; bl < blocks; ++bl) {
            int16_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
            for (size_t at = bl * kCellBlock; at < (bl + 1) * kCellBlock; ++at) {
                if (m_cell[at] < 0)
                    continue;
                const int16_t v[3] = {m_red[at], m_green[at], m_blue[at]};
                for (int ch = 0; ch < 3; ++ch) {
                    lo[ch] = std::min(lo[ch], v[ch]);
                    hi[ch] = std::max(hi[ch], v[ch]);
                }
            }
            for (int ch = 0; ch < 3; ++ch) {
                m_low[bl * 3 + size_t(ch)] = lo[ch];
                m_high[bl * 3 + size_t(ch)] = hi[ch];
            }
        }
    }

    void take(int cell)
    {
        if (!m_position.empty())
            m_bar[m_position[size_t(cell)]] = kBarred;
    }

    // The cell, or -1 when none is free. Bounds are not shrunk as cells are
    // taken, which keeps them valid lower bounds.
    int nearest(int16_t R, int16_t G, int16_t B) const
    {
        int bestDistance = kNoDistance;
        int bestCell = std::numeric_limits<int>::max();
        int gap[3][kBucketsPerChannel];
        const int16_t q[3] = {R, G, B};
        for (int ch = 0; ch < 3; ++ch)
            for (int k = 0; k < kBucketsPerChannel; ++k) {
                const int lo = k << kBucketShift, hi = lo + (1 << kBucketShift) - 1;
                gap[ch][k] = q[ch] < lo ? lo - q[ch] : (q[ch] > hi ? q[ch] - hi : 0);
            }
        const uint32_t own = uint32_t((R >> kBucketShift) * kBucketsPerChannel * kBucketsPerChannel +
                                      (G >> kBucketShift) * kBucketsPerChannel + (B >> kBucketShift));
        // The query's own bucket first, so that the bound is tight early.
        for (const Bucket& bucket : m_buckets)
            if (bucket.key == own)
                scan(bucket, q, bestDistance, bestCell);
        for (const Bucket& bucket : m_buckets) {
            if (bucket.key == own)
                continue;
            const int bound = gap[0][bucket.key / (kBucketsPerChannel * kBucketsPerChannel)] +
                              gap[1][bucket.key / kBucketsPerChannel % kBucketsPerChannel] +
                              gap[2][bucket.key % kBucketsPerChannel];
            if (bound < bestDistance || (bound == bestDistance && m_cell[bucket.begin] < bestCell))
                scan(bucket, q, bestDistance, bestCell);
        }
        return bestDistance < kNoDistance ? bestCell : -1;
    }

private:
    struct Bucket {
        uint32_t key;
        size_t begin, end;
    };

    void scan(const Bucket& bucket, const int16_t (&q)[3], int& bestDistance, int& bestCell) const
    {
        for (size_t base = bucket.begin; base < bucket.end; base += kCellBlock) {
            const size_t bl = base / kCellBlock;
            int bound = 0;
            for (int ch = 0; ch < 3; ++ch) {
                const int lo = m_low[bl * 3 + size_t(ch)], hi = m_high[bl * 3 + size_t(ch)];
                bound += q[ch] < lo ? lo - q[ch] : (q[ch] > hi ? q[ch] - hi : 0);
            }
            // Equals only count when they come earlier in row order.
            if (bound > bestDistance || (bound == bestDistance && m_cell[base] > bestCell))
                continue;
            const int16_t* cr = m_red.data() + base;
            const int16_t* cg = m_green.data() + base;
            const int16_t* cb = m_blue.data() + base;
            const int16_t* bar = m_bar.data() + base;
            int16_t d[kCellBlock];
            for (int k = 0; k < kCellBlock; ++k)
                d[k] = int16_t(absDiff(cr[k], q[0]) + absDiff(cg[k], q[1]) + absDiff(cb[k], q[2]) + bar[k]);
            int16_t nearest = d[0];
            for (int k = 1; k < kCellBlock; ++k)
                nearest = std::min(nearest, d[k]);
            if (nearest > bestDistance)
                continue;
            // the first of equals in a block is the first in row order
            const int cell = m_cell[base + size_t(std::find(d, d + kCellBlock, nearest) - d)];
            if (nearest < bestDistance || cell < bestCell) {
                bestDistance = nearest;
                bestCell = cell;
            }
        }
    }

    std::vector<Bucket> m_buckets;
    std::vector<int16_t> m_red, m_green, m_blue, m_bar;
    std::vector<int32_t> m_cell;
    std::vector<size_t> m_position;    // where each cell sits in the arrays above
    std::vector<int16_t> m_low, m_high;  // colour bounds of each block
};

// The eight nearest eligible pictures of one cell, kept in the slot order that
// the replacement rule produces, because the selection sort that follows is
// not stable and the chosen slot depends on it.
struct CandidateList {
    std::array<int, kSlots> picture{};
    std::array<int, kSlots> distance{};
    int worstSlot = 0;
    int worstDistance = kNoDistance;

    void reset()
    {
        distance.fill(kNoDistance);
        worstSlot = 0;
        worstDistance = kNoDistance;
    }
    int worst() const { return worstDistance; }
    void offer(int index, int d)
    {
        // the caller has checked d < worst()
        picture[size_t(worstSlot)] = index;
        distance[size_t(worstSlot)] = d;
        // first slot of the largest distance, without data-dependent branches
        int w = 0, wd = distance[0];
        for (int s = 1; s < kSlots; ++s) {
            const int ds = distance[size_t(s)];
            const bool larger = ds > wd;
            w = larger ? s : w;
            wd = larger ? ds : wd;
        }
        worstSlot = w;
        worstDistance = wd;
    }
    int filled() const
    {
        return int(std::count_if(distance.begin(), distance.end(), [](int d) { return d < kNoDistance; }));
    }
    void sort()
    {
        for (int k = 0; k < kSlots; ++k) {
            int m = k;
            for (int s = k + 1; s < kSlots; ++s)
                if (distance[size_t(s)] < distance[size_t(m)])
                    m = s;
            std::swap(picture[size_t(k)], picture[size_t(m)]);
            std::swap(distance[size_t(k)], distance[size_t(m)]);
        }
    }
};

class Placer {
public:
    Placer(MosaicJob& job, Random& random, int imageCount, CellColours colours)
        : m_job(job), m_random(random), m_n(imageCount), m_colours(std::move(colours))
    {
        const MosaicSettings& s = job.settings;
        m_limitRepeat = s.limitRepeat;
        m_maxRepeat = s.maxRepeat;
        m_noClose = s.noClose;
        m_draws = s.randomLevel > 1 ? s.randomLevel - 1 : 0;

        const size_t padded = size_t(m_n + kPictureGroup - 1) / kPictureGroup * kPictureGroup;
        m_sigRed.assign(padded, 0);
        m_sigGreen.assign(padded, 0);
        m_sigBlue.assign(padded, 0);
        m_pictureBar.assign(padded, kBarred);  // padding pictures never qualify
        m_useCount.assign(size_t(m_n), 0);
        for (int i = 0; i < m_n; ++i) {
            const CellSignature sig = signatureAt(job.workingSignatures, size_t(i));
            m_sigRed[size_t(i)] = sig.red;
            m_sigGreen[size_t(i)] = sig.green;
            m_sigBlue[size_t(i)] = sig.blue;
            m_useCount[size_t(i)] = sig.useCount;
            m_pictureBar[size_t(i)] = barFor(sig.useCount);
        }

        const size_t cells = size_t(m_colours.rows) * size_t(m_colours.cols);
        m_cellBar.assign(m_colours.red.size(), kBarred);
        std::fill(m_cellBar.begin(), m_cellBar.begin() + ptrdiff_t(cells), int16_t(0));
        if (job.settings.useAll)
            m_free.build(m_colours);
    }

    void useAllPass()
    {
        for (int i = 0; i < m_n; ++i) {
            const int cell = m_free.nearest(m_sigRed[size_t(i)], m_sigGreen[size_t(i)], m_sigBlue[size_t(i)]);
            // With every cell taken the picture has nowhere to go; it is left
            // out rather than pushing out a picture already placed.
            if (cell >= 0)
                place(i, cell);
        }
    }

    void mainPass()
    {
        if (m_n == 0)
            return;
        const int rows = m_colours.rows, cols = m_colours.cols;
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                const int cell = r * cols + c;
                if (m_cellBar[size_t(cell)] != 0)
                    continue;  // placed by the use-all pass
                std::array<int, 3> excluded{-1, -1, -1};
                if (m_noClose) {
                    if (c > 0)
                        excluded[0] = m_job.placementGrid.at(c - 1, r).imageIndex;
                    if (r > 0)
                        excluded[1] = m_job.placementGrid.at(c, r - 1).imageIndex;
                    if (c > 0 && r > 0)
                        excluded[2] = m_job.placementGrid.at(c - 1, r - 1).imageIndex;
                }
                const int16_t R = m_colours.red[size_t(cell)];
                const int16_t G = m_colours.green[size_t(cell)];
                const int16_t B = m_colours.blue[size_t(cell)];

                m_candidates.reset();
                collectCandidates(R, G, B, excluded, true);
                // A cell for which every picture has reached the repetition
                // limit takes one past it, still away from its neighbours
                // where any picture allows that.
                if (m_candidates.filled() == 0) {
                    m_candidates.reset();
                    collectCandidates(R, G, B, excluded, false);
                }
                if (m_candidates.filled() == 0) {
                    m_candidates.reset();
                    collectCandidates(R, G, B, {-1, -1, -1}, false);
                }
                m_candidates.sort();
                // Fewer eligible pictures than the level asks for: the draw
                // stays among the slots that hold one.
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
    int16_t barFor(int64_t useCount) const
    {
        return m_limitRepeat && useCount + 1 > m_maxRepeat ? kBarred : int16_t(0);
    }

    void place(int picture, int cell)
    {
        const int cols = m_colours.cols;
        CellPlacement& p = m_job.placementGrid.at(cell % cols, cell / cols);
        p.imageIndex = picture;
        p.redOffset = m_sigRed[size_t(picture)] - m_colours.red[size_t(cell)];
        p.greenOffset = m_sigGreen[size_t(picture)] - m_colours.green[size_t(cell)];
        p.blueOffset = m_sigBlue[size_t(picture)] - m_colours.blue[size_t(cell)];
        p.occupied = 1;
        m_cellBar[size_t(cell)] = kBarred;
        m_free.take(cell);
        int32_t& count = m_useCount[size_t(picture)];
        count = int32_t(uint32_t(count) + 1u);
        m_pictureBar[size_t(picture)] = barFor(count);
    }

    void collectCandidates(int16_t R, int16_t G, int16_t B, const std::array<int, 3>& excluded, bool limit)
    {
        const int16_t* sr = m_sigRed.data();
        const int16_t* sg = m_sigGreen.data();
        const int16_t* sb = m_sigBlue.data();
        const int16_t* bar = m_pictureBar.data();
        const int groups = int(m_sigRed.size()) / kPictureGroup;
        for (int g = 0; g < groups; ++g) {
            const int base = g * kPictureGroup;
            int16_t d[kPictureGroup];
            for (int k = 0; k < kPictureGroup; ++k)
                d[k] = int16_t(absDiff(sr[base + k], R) + absDiff(sg[base + k], G) + absDiff(sb[base + k], B));
            if (limit)
                for (int k = 0; k < kPictureGroup; ++k)
                    d[k] = int16_t(d[k] + bar[base + k]);
            // Only the lanes nearer than the worst candidate matter; the
            // worst shrinks with every offer, so each lane is checked again.
            for (uint32_t lanes = lanesBelow(d, m_candidates.worst()); lanes != 0; lanes &= lanes - 1) {
                const int k = std::countr_zero(lanes);
                const int i = base + k;
                if (i >= m_n)
                    break;
                if (d[k] >= m_candidates.worst())
                    continue;
                if (i == excluded[0] || i == excluded[1] || i == excluded[2])
                    continue;
                m_candidates.offer(i, d[k]);
            }
        }
    }

    MosaicJob& m_job;
    Random& m_random;
    int m_n;
    CellColours m_colours;
    bool m_limitRepeat = false;
    int64_t m_maxRepeat = 0;
    bool m_noClose = false;
    int m_draws = 0;

    std::vector<int16_t> m_sigRed, m_sigGreen, m_sigBlue;
    std::vector<int16_t> m_pictureBar;  // kBarred while the repetition limit bars a picture
    std::vector<int32_t> m_useCount;
    std::vector<int16_t> m_cellBar;  // kBarred once a cell is occupied
    FreeCellIndex m_free;
    CandidateList m_candidates;
};

}  // namespace

void placeCells(MosaicJob& job, Random& random, int imageCount)
{
    random.seedFromClock();
    placeCellsUnseeded(job, random, imageCount);
}

void placeCellsUnseeded(MosaicJob& job, Random& random, int imageCount)
{
    const MosaicSettings& s = job.settings;
    if (s.rows < 1 || s.rows > kGridSide || s.cols < 1 || s.cols > kGridSide)
        throw EInvalidGraphicOperation(formatMessage("Cannot place %d x %d cells", s.cols, s.rows));
    if (imageCount < 0 || size_t(imageCount) > signatureCount(job.signatureStream))
        throw EReadError(msg::kStreamRead);
    CellColours colours = readCellColours(job, s.rows, s.cols);

    for (int c = 0; c < kGridSide; ++c)
        for (int r = 0; r < kGridSide; ++r)
            job.placementGrid.at(c, r).occupied = 0;
    job.workingSignatures = job.signatureStream;

    if (s.selfMosaic) {
        const CellSignature source = computeSignature(job.sourcePicture);
        for (int r = 0; r < s.rows; ++r) {
            for (int c = 0; c < s.cols; ++c) {
                const size_t k = size_t(r) * size_t(s.cols) + size_t(c);
                CellPlacement& p = job.placementGrid.at(c, r);
                p.redOffset = source.red - colours.red[k];
                p.greenOffset = source.green - colours.green[k];
                p.blueOffset = source.blue - colours.blue[k];
            }
        }
        return;
    }

    if (job.detailGrid > 0) {
        const TGraphic* graphic = job.sourcePicture.Graphic();
        const TDIB* source = graphic ? graphic->PixelRaster() : nullptr;
        const CellDetail cells = computeCellDetail(source ? *source : TDIB{}, s.rows, s.cols, job.detailGrid,
                                                   s.sourceRedAdjust, s.sourceGreenAdjust, s.sourceBlueAdjust,
                                                   s.sourceMono);
        placeCellsByDetail(job, random, imageCount, job.detailSignatures, cells);
        return;
    }

    Placer placer(job, random, imageCount, std::move(colours));
    if (s.useAll)
        placer.useAllPass();
    placer.mainPass();
    placer.writeUseCounts();
}

}  // namespace tsx
