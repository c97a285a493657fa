#include "wizard/mosaic_size.h"

#include <charconv>
#include <cmath>
#include <mutex>
#include <string>

namespace tsx {

double diskSpaceMB(int mosaicWidth, int mosaicHeight)
{
    // 34952 = 1,048,576 / 30 truncated: tenths of a megabyte at 3 bytes a pixel.
    // The order of the operations is kept so the cut lands where it always did.
    return std::trunc(double(mosaicWidth) * (double(mosaicHeight) / 34952.0)) / 10.0;
}

void recomputeSize(MosaicSettings& settings, int rows, int cols, int cellWidth, int cellHeight)
{
    settings.rows = rows;
    settings.cols = cols;
    settings.cellWidth = cellWidth;
    settings.cellHeight = cellHeight;
    settings.mosaicWidth = cols * cellWidth;
    settings.mosaicHeight = rows * cellHeight;
    settings.diskSpaceMB = diskSpaceMB(settings.mosaicWidth, settings.mosaicHeight);
}

std::string formatShortest(double value, char decimalSeparator)
{
    // to_chars, not printf: the desktop's locale must not pick the separator
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    std::string out(buf, result.ptr);
    for (char& ch : out) {
        if (ch == '.')
            ch = decimalSeparator;
    }
    return out;
}

SizeStepLabels sizeStepLabels(const MosaicSettings& s, char decimalSeparator)
{
    // A zero width only reaches here from a job that was never sized.
    const long long ratio = s.mosaicWidth != 0 ? (long long)s.mosaicHeight * 100 / s.mosaicWidth : 0;
    SizeStepLabels l;
    l.verticalCells = "Vertical  Cells Count : " + std::to_string(s.rows);
    l.horizontalCells = "Horizontal Cells Count : " + std::to_string(s.cols);
    l.cellWidth = "Width: " + std::to_string(s.cellWidth);
    l.cellHeight = "Height: " + std::to_string(s.cellHeight);
    l.mosaicRatio = "Aspect ratio of Photomosaic image :" + std::to_string(ratio) + "/100";
    l.mosaicSize = "Mosaic size will be : " + std::to_string(s.mosaicWidth) + " x " + std::to_string(s.mosaicHeight);
    l.diskSpace = "Disk Space Taken : " + formatShortest(s.diskSpaceMB, decimalSeparator) + " MB";
    return l;
}

SizeStatusTexts sizeStatusTexts(const MosaicSettings& s)
{
    SizeStatusTexts t;
    t.cells = "Cells Count " + std::to_string(s.cols) + " x " + std::to_string(s.rows) + " = " +
              std::to_string((long long)s.cols * s.rows);
    t.cellSize = "Cell Size " + std::to_string(s.cellWidth) + " x " + std::to_string(s.cellHeight);
    t.mosaicSize = "PhotoMosaic Size " + std::to_string(s.mosaicWidth) + " x " + std::to_string(s.mosaicHeight);
    return t;
}

void buildCellColourRaster(const TPicture& source, const MosaicSettings& s, TDIB& out)
{
    TDIB raster;
    raster.Allocate(s.cols, s.rows, 24);
    if (const TGraphic* graphic = source.Graphic(); graphic && !graphic->Empty())
        raster.Canvas().StretchDraw(TRect{0, 0, s.cols, s.rows}, *graphic);
    adjustColours(raster, s.sourceRedAdjust, s.sourceGreenAdjust, s.sourceBlueAdjust, s.sourceMono);
    out = std::move(raster);
}

void buildBlockPreview(const TDIB& cellColourRaster, const MosaicSettings& s, TDIB& out)
{
    TDIB preview;
    preview.Allocate(s.mosaicWidth, s.mosaicHeight, 24);
    if (!cellColourRaster.IsEmpty()) {
        stretchNearest(cellColourRaster, TRect{0, 0, cellColourRaster.Width(), cellColourRaster.Height()}, preview,
                       TRect{0, 0, s.mosaicWidth, s.mosaicHeight});
    }
    // The preview carries the offsets twice, once from the colour raster and
    // once here; users know the preview looks stronger than the mosaic.
    adjustColours(preview, s.sourceRedAdjust, s.sourceGreenAdjust, s.sourceBlueAdjust, s.sourceMono);
    out = std::move(preview);
}

ApplyOutcome applySize(MosaicJob& job, int rows, int cols, int cellWidth, int cellHeight)
{
    recomputeSize(job.settings, rows, cols, cellWidth, cellHeight);
    if (exceedsDiskLimit(job.settings.diskSpaceMB))
        return ApplyOutcome::TooBig;
    buildCellColourRaster(job.sourcePicture, job.settings, job.cellColourRaster);
    // the old preview goes first: at the largest size the two together
    // would need 2.4 GB
    {
        std::lock_guard<std::mutex> lock(job.mosaicImageLock);
        job.mosaicImage.MakeEmpty();
    }
    TDIB preview;
    buildBlockPreview(job.cellColourRaster, job.settings, preview);
    std::lock_guard<std::mutex> lock(job.mosaicImageLock);
    job.mosaicImage = std::move(preview);
    return ApplyOutcome::Applied;
}

}  // namespace tsx
