#include "engine/fidelity.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "raster/errors.h"

namespace tsx {

namespace {

std::vector<double> luma(const TDIB& raster)
{
    const int w = raster.Width(), h = raster.Height();
    std::vector<double> out(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = raster.ScanLine(y);
        for (int x = 0; x < w; ++x, p += 3)
            out[size_t(y) * size_t(w) + size_t(x)] = 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
    }
    return out;
}

// Separable Gaussian blur with the window cut at the edges and renormalised.
std::vector<double> blur(const std::vector<double>& in, int w, int h)
{
    constexpr int kRadius = 5;
    double kernel[2 * kRadius + 1];
    for (int k = -kRadius; k <= kRadius; ++k)
        kernel[k + kRadius] = std::exp(-double(k * k) / (2 * 1.5 * 1.5));
    auto pass = [&](const std::vector<double>& src, bool horizontal) {
        std::vector<double> dst(src.size());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double sum = 0, weight = 0;
                for (int k = -kRadius; k <= kRadius; ++k) {
                    const int xx = horizontal ? x + k : x, yy = horizontal ? y : y + k;
                    if (xx < 0 || yy < 0 || xx >= w || yy >= h)
                        continue;
                    sum += kernel[k + kRadius] * src[size_t(yy) * size_t(w) + size_t(xx)];
                    weight += kernel[k + kRadius];
                }
                dst[size_t(y) * size_t(w) + size_t(x)] = sum / weight;
            }
        return dst;
    };
    return pass(pass(in, true), false);
}

TDIB reduced(const TDIB& raster, int width, int height)
{
    TDIB source = raster;
    if (source.BitCount() != 24)
        source.ChangeBitCount(24);
    TDIB out;
    out.Allocate(width, height, 24);
    stretchAreaAverage(source, TRect{0, 0, source.Width(), source.Height()}, out, TRect{0, 0, width, height});
    return out;
}

}  // namespace

MatchFigures matchFigures(const MosaicSettings& settings, const PlacementGrid& grid)
{
    MatchFigures f;
    int64_t sum = 0;
    for (int r = 0; r < std::min(settings.rows, kGridSide); ++r)
        for (int c = 0; c < std::min(settings.cols, kGridSide); ++c) {
            const CellPlacement& p = grid.at(c, r);
            if (!p.occupied)
                continue;
            // offsets read from a file may be anything; a distance is at most 765
            const int64_t d = std::min<int64_t>(
                std::llabs(p.redOffset) + std::llabs(p.greenOffset) + std::llabs(p.blueOffset), 765);
            sum += d;
            f.worstDistance = std::max(f.worstDistance, int(d));
            ++f.cells;
        }
    f.meanDistance = f.cells > 0 ? double(sum) / double(f.cells) : 0;
    return f;
}

double structuralSimilarity(const TDIB& a, const TDIB& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.IsEmpty())
        throw EInvalidGraphicOperation("Cannot compare rasters of different sizes");
    const int w = a.Width(), h = a.Height();
    const std::vector<double> x = luma(a), y = luma(b);
    std::vector<double> xx(x.size()), yy(x.size()), xy(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        xx[i] = x[i] * x[i];
        yy[i] = y[i] * y[i];
        xy[i] = x[i] * y[i];
    }
    const std::vector<double> mx = blur(x, w, h), my = blur(y, w, h);
    const std::vector<double> sxx = blur(xx, w, h), syy = blur(yy, w, h), sxy = blur(xy, w, h);
    constexpr double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    double total = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double vx = sxx[i] - mx[i] * mx[i], vy = syy[i] - my[i] * my[i], cxy = sxy[i] - mx[i] * my[i];
        total += ((2 * mx[i] * my[i] + c1) * (2 * cxy + c2)) /
                 ((mx[i] * mx[i] + my[i] * my[i] + c1) * (vx + vy + c2));
    }
    return total / double(x.size());
}

double peakSignalToNoise(const TDIB& a, const TDIB& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.IsEmpty())
        throw EInvalidGraphicOperation("Cannot compare rasters of different sizes");
    double squares = 0;
    for (int y = 0; y < a.Height(); ++y) {
        const uint8_t* p = a.ScanLine(y);
        const uint8_t* q = b.ScanLine(y);
        for (int i = 0; i < a.Width() * 3; ++i) {
            const double d = double(p[i]) - double(q[i]);
            squares += d * d;
        }
    }
    const double mse = squares / (double(a.Width()) * a.Height() * 3);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

Fidelity mosaicFidelity(const TDIB& mosaic, const TDIB& source, int rows, int cols, int pixelsPerCell)
{
    Fidelity f;
    f.pixelsPerCell = pixelsPerCell;
    if (mosaic.IsEmpty() || source.IsEmpty() || rows < 1 || cols < 1)
        return f;
    const int w = cols * pixelsPerCell, h = rows * pixelsPerCell;
    f.ssim = structuralSimilarity(reduced(mosaic, w, h), reduced(source, w, h));
    f.psnr = peakSignalToNoise(reduced(mosaic, cols, rows), reduced(source, cols, rows));
    return f;
}

TDIB adjustedSource(const MosaicJob& job)
{
    const TGraphic* graphic = job.sourcePicture.Graphic();
    const TDIB* raster = graphic ? graphic->PixelRaster() : nullptr;
    if (!raster || raster->IsEmpty())
        return TDIB{};
    TDIB copy = *raster;
    const MosaicSettings& s = job.settings;
    adjustColours(copy, s.sourceRedAdjust, s.sourceGreenAdjust, s.sourceBlueAdjust, s.sourceMono);
    return copy;
}

}  // namespace tsx
