#include "app/print_layout.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "raster/errors.h"

namespace tsx {

std::string formatTwoDecimals(double value)
{
    // hundredths, halves away from zero, then printed as integer parts so no
    // second rounding can creep in
    const double hundredths = std::round(value * 100.0);
    const bool negative = hundredths < 0;
    const long long h = std::llabs((long long)hundredths);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%lld.%02lld", negative ? "-" : "", h / 100, h % 100);
    return buf;
}

int parseImageDpi(const std::string& text)
{
    const char* s = text.c_str();
    while (*s == ' ')
        ++s;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    while (end && *end == ' ')
        ++end;
    if (end == s || !end || *end != '\0' || errno == ERANGE || v > INT32_MAX)
        return kMinImageDpi;
    // the box raises anything below its minimum at once; it also keeps the
    // divisions below away from zero
    return v < kMinImageDpi ? kMinImageDpi : int(v);
}

double parseMargin(const std::string& text)
{
    // from_chars reads a point whatever the process locale says: the window
    // shows margins with a point, and strtod under a comma locale would
    // refuse every one of them
    const char* s = text.data();
    const char* end = s + text.size();
    while (s < end && *s == ' ')
        ++s;
    while (end > s && end[-1] == ' ')
        --end;
    double v = 0;
    const auto [stop, error] = std::from_chars(s, end, v);
    if (s == end || error != std::errc() || stop != end || !std::isfinite(v))
        throw EConvertError(formatMessage(msg::kNotFloat, text.c_str()));
    return v;
}

PrintFigures computePrintFigures(int printerDpiX, int printerDpiY, int imageDpi, int mosaicWidth,
                                 int mosaicHeight, int cellWidth, int cellHeight)
{
    if (imageDpi < 1)
        imageDpi = kMinImageDpi;
    PrintFigures f;
    f.outputWidth = float(double(mosaicWidth) / imageDpi);
    f.outputHeight = float(double(mosaicHeight) / imageDpi);
    f.cellWidth = float(double(cellWidth) / imageDpi);
    f.cellHeight = float(double(cellHeight) / imageDpi);
    f.resolutionText = std::to_string(printerDpiX) + " X " + std::to_string(printerDpiY);
    f.pictureSizeText = formatTwoDecimals(f.outputWidth) + " x " + formatTwoDecimals(f.outputHeight);
    f.cellSizeText = formatTwoDecimals(f.cellWidth) + " x " + formatTwoDecimals(f.cellHeight);
    return f;
}

TRect computePrintRect(double topMargin, double leftMargin, int printerDpiX, int printerDpiY, int imageDpi,
                       int mosaicWidth, int mosaicHeight)
{
    if (imageDpi < 1)
        imageDpi = kMinImageDpi;
    TRect rect;
    rect.Top = roundHalfEven(topMargin * printerDpiY);
    rect.Left = roundHalfEven(leftMargin * printerDpiX);
    // 64-bit products: a large mosaic at a fine printer must not wrap
    rect.Bottom = int(int64_t(mosaicHeight) * printerDpiY / imageDpi + rect.Top);
    rect.Right = int(int64_t(mosaicWidth) * printerDpiX / imageDpi + rect.Left);
    return rect;
}

}  // namespace tsx
