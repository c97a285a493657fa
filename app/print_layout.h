// The figures of the printer setup window: the printed size of the mosaic and
// of one cell, and the rectangle on the page, as pure arithmetic.
#pragma once

#include <string>

#include "raster/dib.h"
#include "raster/paint_placement.h"

namespace tsx {

inline constexpr int kMinImageDpi = 50;
inline constexpr int kMaxImageDpi = 1200;
inline constexpr int kDefaultImageDpi = 150;  // the image resolution box's start
inline constexpr double kMaxMargin = 10;

/// A number with exactly two decimals, halves away from zero ("0.00").
std::string formatTwoDecimals(double value);

/// The image resolution box's text as an integer; text that is not one
/// counts as 50, and so does anything below 50 (the box never holds less).
int parseImageDpi(const std::string& text);

/// A margin box's text; "'%s' is not a valid floating point value" otherwise.
double parseMargin(const std::string& text);

/// The input limits: margins above 10 become 10; the resolution is raised
/// to 50 on every change and kept within 50..1200 when its box is left.
inline double limitMargin(double margin) { return margin > kMaxMargin ? kMaxMargin : margin; }
inline int limitImageDpiOnChange(int dpi) { return dpi < kMinImageDpi ? kMinImageDpi : dpi; }
inline int limitImageDpiOnLeave(int dpi)
{
    return dpi < kMinImageDpi ? kMinImageDpi : (dpi > kMaxImageDpi ? kMaxImageDpi : dpi);
}

/// The figures shown before printing.
struct PrintFigures {
    float outputWidth = 0, outputHeight = 0;  // inches
    float cellWidth = 0, cellHeight = 0;      // inches
    std::string resolutionText;               // Lpres: "600 X 600"
    std::string pictureSizeText;              // lpisize: "6.83 x 6.83"
    std::string cellSizeText;                 // lpcsize: "0.32 x 0.32"
};

PrintFigures computePrintFigures(int printerDpiX, int printerDpiY, int imageDpi, int mosaicWidth,
                                 int mosaicHeight, int cellWidth, int cellHeight);

/// The rectangle in printer dots into which the mosaic is drawn.
TRect computePrintRect(double topMargin, double leftMargin, int printerDpiX, int printerDpiY, int imageDpi,
                       int mosaicWidth, int mosaicHeight);

}  // namespace tsx
