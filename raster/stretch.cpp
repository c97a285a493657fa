// The canvas of a raster and its two stretch filters.
#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>
#include <vector>

#include "raster/dib.h"
#include "raster/errors.h"

namespace tsx {
namespace {

__extension__ typedef unsigned __int128 Wide;

// The part of a destination rectangle that lies on the raster.
struct Span {
    int from = 0, to = 0;
    bool empty() const { return from >= to; }
};

Span clipAxis(int start, int end, int limit) { return {std::max(start, 0), std::min(end, limit)}; }

// A 24-bit view of the source: the raster itself, or a converted copy.
TDIB as24(const TDIB& src)
{
    TDIB copy(src);
    if (copy.BitCount() != 24)
        copy.ChangeBitCount(24);
    return copy;
}

// Everything both filters check before touching a pixel; false when nothing
// is to be drawn.
bool prepare(const TDIB& src, const TRect& srcRect, TDIB& dst, const TRect& dstRect, Span& xs, Span& ys)
{
    if (src.IsEmpty() || dst.IsEmpty() || srcRect.width() <= 0 || srcRect.height() <= 0 || dstRect.width() <= 0
        || dstRect.height() <= 0)
        return false;
    xs = clipAxis(dstRect.Left, dstRect.Right, dst.Width());
    ys = clipAxis(dstRect.Top, dstRect.Bottom, dst.Height());
    if (xs.empty() || ys.empty())
        return false;
    if (dst.BitCount() != 24)
        dst.ChangeBitCount(24);
    return true;
}

// Source sample of destination index i on one axis, kept on the raster.
inline int nearestSample(int srcStart, int srcLength, int dstLength, int i, int srcLimit)
{
    const int64_t s = srcStart + int64_t(i) * srcLength / dstLength;
    return int(std::clamp<int64_t>(s, 0, srcLimit - 1));
}

// Coverage weights of one axis. Target pixel i spans [i*a, (i+1)*a) and
// source pixel j spans [j*b, (j+1)*b) on a common integer grid (a and b are
// the source and target lengths divided by their gcd), so the weights are
// exact integers that add up to a for every target pixel.
struct AxisTaps {
    std::vector<int> first;     // per target pixel: index into source/weight
    std::vector<int> count;
    std::vector<int> source;    // source pixel (clamped to the raster)
    std::vector<uint32_t> weight;
    uint32_t total = 0;         // the sum of every target pixel's weights
};

AxisTaps buildTaps(int srcStart, int srcLength, int dstStart, int dstLength, Span clip, int srcLimit)
{
    AxisTaps t;
    const int64_t g = std::gcd(int64_t(srcLength), int64_t(dstLength));
    const int64_t a = srcLength / g, b = dstLength / g;
    t.total = uint32_t(a);
    for (int d = clip.from; d < clip.to; ++d) {
        const int64_t i = d - dstStart;
        const int64_t lo = i * a, hi = lo + a;
        t.first.push_back(int(t.source.size()));
        for (int64_t j = lo / b; j * b < hi; ++j) {
            const int64_t w = std::min(hi, (j + 1) * b) - std::max(lo, j * b);
            t.source.push_back(int(std::clamp<int64_t>(srcStart + j, 0, srcLimit - 1)));
            t.weight.push_back(uint32_t(w));
        }
        t.count.push_back(int(t.source.size()) - t.first.back());
    }
    return t;
}

// Separable: for each target row the covered source rows are summed column
// by column with their vertical weights (a straight loop over bytes that the
// compiler vectorises), then each target pixel sums its columns with their
// horizontal weights. Weights and sums are exact integers.
template <class Acc>
void areaAverage(const TDIB& src, const AxisTaps& xt, const AxisTaps& yt, TDIB& dst, Span xs, Span ys)
{
    const auto [lowest, highest] = std::minmax_element(xt.source.begin(), xt.source.end());
    const int firstColumn = *lowest;
    const size_t spanValues = size_t(*highest - firstColumn + 1) * 3;
    std::vector<Acc> columns(spanValues);
    // round(sum / total) without a division per pixel: n / d == (n * m) >> s
    // exactly for every n below 2^bits when m = ceil(2^s / d), s = bits + log2(d)
    const uint64_t total = uint64_t(xt.total) * yt.total;
    const uint64_t divisor = 2 * total;
    const int bits = 64 - std::countl_zero(511 * total);
    const int shift = bits + (64 - std::countl_zero(divisor));
    const Wide multiplier = ((Wide(1) << shift) + divisor - 1) / divisor;
    const size_t targetColumns = xt.count.size();
    for (int y = ys.from; y < ys.to; ++y) {
        const size_t k = size_t(y - ys.from);
        std::fill(columns.begin(), columns.end(), Acc(0));
        Acc* col = columns.data();
        for (int i = 0; i < yt.count[k]; ++i) {
            const size_t tap = size_t(yt.first[k] + i);
            const uint8_t* row = src.ScanLine(yt.source[tap]) + 3 * firstColumn;
            const Acc wy = Acc(yt.weight[tap]);
            if (wy == 1) {
                for (size_t v = 0; v < spanValues; ++v)
                    col[v] = Acc(col[v] + row[v]);
            } else {
                for (size_t v = 0; v < spanValues; ++v)
                    col[v] = Acc(col[v] + wy * row[v]);
            }
        }
        uint8_t* out = dst.RowPointer(y) + 3 * xs.from;
        for (size_t c = 0; c < targetColumns; ++c) {
            uint64_t b = 0, g = 0, r = 0;
            const int first = xt.first[c];
            for (int i = 0; i < xt.count[c]; ++i) {
                const uint64_t w = xt.weight[size_t(first + i)];
                const Acc* p = col + 3 * size_t(xt.source[size_t(first + i)] - firstColumn);
                b += w * p[0];
                g += w * p[1];
                r += w * p[2];
            }
            out[3 * c] = uint8_t((Wide(2 * b + total) * multiplier) >> shift);
            out[3 * c + 1] = uint8_t((Wide(2 * g + total) * multiplier) >> shift);
            out[3 * c + 2] = uint8_t((Wide(2 * r + total) * multiplier) >> shift);
        }
    }
}

}  // namespace

void stretchNearest(const TDIB& source, const TRect& srcRect, TDIB& dst, const TRect& dstRect)
{
    Span xs, ys;
    if (!prepare(source, srcRect, dst, dstRect, xs, ys))
        return;
    // holding the source keeps its pixels even when it is the target itself
    const TDIB src = as24(source);
    const int dw = dstRect.width(), dh = dstRect.height();
    std::vector<int> columns(size_t(xs.to - xs.from));
    for (int x = xs.from; x < xs.to; ++x)
        columns[size_t(x - xs.from)] = 3 * nearestSample(srcRect.Left, srcRect.width(), dw, x - dstRect.Left, src.Width());
    int previousSample = -1;
    const uint8_t* previousRow = nullptr;
    const size_t spanBytes = columns.size() * 3;
    for (int y = ys.from; y < ys.to; ++y) {
        const int sy = nearestSample(srcRect.Top, srcRect.height(), dh, y - dstRect.Top, src.Height());
        uint8_t* out = dst.RowPointer(y) + 3 * xs.from;
        if (sy == previousSample) {
            std::memcpy(out, previousRow, spanBytes);  // a repeated source row
            continue;
        }
        const uint8_t* in = src.ScanLine(sy);
        for (size_t i = 0; i < columns.size(); ++i) {
            const uint8_t* p = in + columns[i];
            out[3 * i] = p[0];
            out[3 * i + 1] = p[1];
            out[3 * i + 2] = p[2];
        }
        previousSample = sy;
        previousRow = out;
    }
}

void stretchAreaAverage(const TDIB& source, const TRect& srcRect, TDIB& dst, const TRect& dstRect)
{
    // beyond this a source rectangle means nothing and its sums would overflow
    constexpr int kMaxAveragedLength = 1 << 24;
    if (srcRect.width() > kMaxAveragedLength || srcRect.height() > kMaxAveragedLength) {
        stretchNearest(source, srcRect, dst, dstRect);
        return;
    }
    Span xs, ys;
    if (!prepare(source, srcRect, dst, dstRect, xs, ys))
        return;
    const TDIB src = as24(source);
    const AxisTaps xt = buildTaps(srcRect.Left, srcRect.width(), dstRect.Left, dstRect.width(), xs, src.Width());
    const AxisTaps yt = buildTaps(srcRect.Top, srcRect.height(), dstRect.Top, dstRect.height(), ys, src.Height());
    // the narrowest column sums that cannot overflow: more values per vector
    const uint64_t largestColumnSum = 255 * uint64_t(yt.total);
    if (largestColumnSum <= UINT16_MAX)
        areaAverage<uint16_t>(src, xt, yt, dst, xs, ys);
    else if (largestColumnSum <= UINT32_MAX)
        areaAverage<uint32_t>(src, xt, yt, dst, xs, ys);
    else
        areaAverage<uint64_t>(src, xt, yt, dst, xs, ys);
}

TRect TCanvas::ClipRect() const { return TRect{0, 0, target_->Width(), target_->Height()}; }

void TCanvas::Draw(int x, int y, const TGraphic& graphic)
{
    const TDIB* pixels = graphic.PixelRaster();
    if (!pixels || pixels->IsEmpty())
        return;
    StretchDraw(TRect{x, y, x + pixels->Width(), y + pixels->Height()}, graphic);
}

void TCanvas::StretchDraw(const TRect& rect, const TGraphic& graphic)
{
    // a raster draws itself and gives the canvas its stretch mode back
    if (const auto* dib = dynamic_cast<const TDIB*>(&graphic)) {
        dib->DrawTo(*this, rect);
        return;
    }
    const TDIB* pixels = graphic.PixelRaster();
    // a one-bit bitmap is drawn in whatever mode is selected
    if (!(graphic.IsBitmap() && pixels && pixels->BitCount() == 1))
        mode_ = TStretchMode::NearestPixel;
    if (!pixels || pixels->IsEmpty())
        return;
    CopyRect(rect, *pixels, TRect{0, 0, pixels->Width(), pixels->Height()});
}

void TCanvas::CopyRect(const TRect& dest, const TDIB& source, const TRect& sourceRect)
{
    if (mode_ == TStretchMode::AreaAverage)
        stretchAreaAverage(source, sourceRect, *target_, dest);
    else
        stretchNearest(source, sourceRect, *target_, dest);
}

}  // namespace tsx
