#include "app/print_layout.h"

#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "raster/errors.h"

namespace tsx {
namespace {

TEST(PrintLayout, FiguresAndRectangleOfATypicalPage)
{
    const PrintFigures f = computePrintFigures(600, 600, 150, 1024, 1024, 48, 48);
    EXPECT_EQ(f.resolutionText, "600 X 600");
    EXPECT_EQ(f.pictureSizeText, "6.83 x 6.83");
    EXPECT_EQ(f.cellSizeText, "0.32 x 0.32");
    EXPECT_EQ(computePrintRect(0.5, 0.5, 600, 600, 150, 1024, 1024), (TRect{300, 300, 4396, 4396}));
}

TEST(PrintLayout, HalvingTheResolutionDoublesThePrintedSize)
{
    const PrintFigures f = computePrintFigures(600, 600, 75, 1024, 1024, 48, 48);
    EXPECT_EQ(f.pictureSizeText, "13.65 x 13.65");
    EXPECT_EQ(f.cellSizeText, "0.64 x 0.64");
    EXPECT_EQ(computePrintRect(0.5, 0.5, 600, 600, 75, 1024, 1024), (TRect{300, 300, 8492, 8492}));
}

TEST(PrintLayout, MarginsRoundHalvesToEven)
{
    EXPECT_EQ(roundHalfEven(37.5), 38);
    EXPECT_EQ(roundHalfEven(112.5), 112);
    EXPECT_EQ(roundHalfEven(0.5), 0);
    EXPECT_EQ(roundHalfEven(37.4999), 37);
    // 0.5 inch at 75 dpi and 1.5 inches at 75 dpi: both exact halves
    EXPECT_EQ(computePrintRect(0.5, 1.5, 75, 75, 150, 300, 300), (TRect{112, 38, 262, 188}));
}

TEST(PrintLayout, RectangleUsesBothPrinterResolutionsAndTruncates)
{
    // width 1000 at 300 dpi over 7 image dpi: 42857.14 truncated
    EXPECT_EQ(computePrintRect(0, 0, 300, 600, 7, 1000, 10), (TRect{0, 0, 42857, 857}));
    // a mosaic of 20480 pixels on a 9600 dpi printer does not wrap around
    EXPECT_EQ(computePrintRect(0, 0, 9600, 9600, 50, 20480, 20480).Right, 3932160);
}

TEST(PrintLayout, TwoDecimalsRoundHalvesAwayFromZero)
{
    EXPECT_EQ(formatTwoDecimals(0.125), "0.13");
    EXPECT_EQ(formatTwoDecimals(0.0), "0.00");
    EXPECT_EQ(formatTwoDecimals(10.0), "10.00");
    EXPECT_EQ(formatTwoDecimals(0.004), "0.00");
    EXPECT_EQ(formatTwoDecimals(1234567.891), "1234567.89");
}

TEST(PrintLayout, ResolutionTextThatIsNoNumberCountsAsTheMinimum)
{
    EXPECT_EQ(parseImageDpi("150"), 150);
    EXPECT_EQ(parseImageDpi("5000"), 5000);  // used while the box has the focus
    EXPECT_EQ(parseImageDpi(""), 50);
    EXPECT_EQ(parseImageDpi("15x"), 50);
    EXPECT_EQ(parseImageDpi("99999999999"), 50);
    // below the box's minimum, and zero, which would divide the figures by 0
    EXPECT_EQ(parseImageDpi("20"), 50);
    EXPECT_EQ(parseImageDpi("0"), 50);
    EXPECT_EQ(parseImageDpi("-3"), 50);
}

TEST(PrintLayout, MarginTextMustBeANumber)
{
    EXPECT_DOUBLE_EQ(parseMargin("0.5"), 0.5);
    EXPECT_DOUBLE_EQ(parseMargin(" 2 "), 2.0);
    try {
        parseMargin("");
        FAIL() << "an empty margin was accepted";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid floating point value");
    }
    EXPECT_THROW(parseMargin("1.2.3"), EConvertError);
    EXPECT_THROW(parseMargin("nan"), EConvertError);
    EXPECT_THROW(parseMargin("0,5"), EConvertError);
}

TEST(PrintLayout, MarginReadsAPointUnderACommaLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char* comma = nullptr;
    for (const char* name : { "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8" })
        if (std::setlocale(LC_NUMERIC, name)) {
            comma = name;
            break;
        }
    if (!comma)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    double value = 0;
    EXPECT_NO_THROW(value = parseMargin("0.50"));
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_DOUBLE_EQ(value, 0.5);
}

}  // namespace
}  // namespace tsx
