#include "raster/paint_placement.h"

#include <cmath>
#include <cstdint>

namespace tsx {

int roundHalfEven(double value)
{
    const double r = value - std::floor(value) == 0.5 ? 2.0 * std::round(value / 2.0) : std::round(value);
    if (r >= double(INT32_MAX))
        return INT32_MAX;
    if (r <= double(INT32_MIN))
        return INT32_MIN;
    return int(r);
}

PaintPlacement placeRaster(int rasterWidth, int rasterHeight, int clientWidth, int clientHeight,
                           const PaintBoxOptions& options)
{
    PaintPlacement at;
    if (rasterWidth <= 0 || rasterHeight <= 0)
        return at;
    const int W = rasterWidth, H = rasterHeight, CW = clientWidth, CH = clientHeight;

    auto fitted = [&] {
        // the ratios are single precision, the products are not
        const float rx = static_cast<float>(double(CW) / double(W));
        const float ry = static_cast<float>(double(CH) / double(H));
        const float s = rx > ry ? ry : rx;
        at.width = roundHalfEven(double(W) * double(s));
        at.height = roundHalfEven(double(H) * double(s));
    };

    if (options.autoStretch) {
        if (CW >= W && CH >= H) {
            at.width = W;
            at.height = H;
        } else {
            fitted();
        }
    } else if (!options.stretch) {
        at.width = W;
        at.height = H;
    } else if (!options.keepAspect) {
        at.width = CW;
        at.height = CH;
    } else {
        fitted();
    }
    at.stretched = at.width != W || at.height != H;
    if (options.center) {
        at.x = (CW - at.width) / 2;
        at.y = (CH - at.height) / 2;
    }
    return at;
}

}  // namespace tsx
