// Where a paint box draws its raster: the placement rule of the four
// switches, kept apart from the widget so the core and its tests use it.
#pragma once

namespace tsx {

/// Where a raster of W x H lands in a client of CW x CH.
struct PaintPlacement {
    int x = 0, y = 0, width = 0, height = 0;
    bool stretched = false;  // false: drawn at natural size
    bool operator==(const PaintPlacement&) const = default;
};

struct PaintBoxOptions {
    bool autoStretch = false;
    bool center = false;
    bool keepAspect = false;
    bool stretch = false;
};

/// The placement rule of the paint box, usable without a widget.
PaintPlacement placeRaster(int rasterWidth, int rasterHeight, int clientWidth, int clientHeight,
                           const PaintBoxOptions& options);

/// Rounds to the nearest integer, halves to the even neighbour: the rounding
/// of the fitted size, and of the print figures.
int roundHalfEven(double value);

}  // namespace tsx
