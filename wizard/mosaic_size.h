// The arithmetic and rasters of the wizard's size step: the job's size
// fields, the disk estimate and its 1200 MB ceiling, the label and status
// texts, the one-pixel-per-cell colour raster and the block preview.
#pragma once

#include <string>

#include "engine/mosaic_job.h"

namespace tsx {

inline constexpr double kMaxDiskSpaceMB = 1200;
inline constexpr const char* kTooBigMessage =
    "Your project is too big! this program supports up to 1200MB (20480 * 20480 pixels) ";
inline constexpr const char* kTooBigCaption = "Can not create project";

/// Estimated megabytes of a 24-bit mosaic, cut (not rounded) to one decimal.
double diskSpaceMB(int mosaicWidth, int mosaicHeight);

/// Whether a mosaic of that estimate is refused (1200 itself passes).
inline bool exceedsDiskLimit(double mb) { return mb > kMaxDiskSpaceMB; }

/// Writes rows, cols, the cell sizes and everything derived from them.
void recomputeSize(MosaicSettings& settings, int rows, int cols, int cellWidth, int cellHeight);

/// The shortest decimal form of a number (up to 15 significant digits, no
/// trailing zeros), with the given decimal separator.
std::string formatShortest(double value, char decimalSeparator = '.');

/// The texts of the size step's labels for the current size fields.
struct SizeStepLabels {
    std::string verticalCells;    // lbvcc
    std::string horizontalCells;  // lbhcc
    std::string cellWidth;        // lbcw
    std::string cellHeight;       // lbch
    std::string mosaicRatio;      // lbratio2
    std::string mosaicSize;       // lbmsize
    std::string diskSpace;        // lbdisk
};
SizeStepLabels sizeStepLabels(const MosaicSettings& settings, char decimalSeparator = '.');

/// Panels 0, 1 and 2 of the main window's status bar.
struct SizeStatusTexts {
    std::string cells;       // "Cells Count 32 x 32 = 1024"
    std::string cellSize;    // "Cell Size 48 x 48"
    std::string mosaicSize;  // "PhotoMosaic Size 1536 x 1536"
};
SizeStatusTexts sizeStatusTexts(const MosaicSettings& settings);

/// cols × rows raster of the source picture, sampled nearest-pixel, then
/// shifted by the source offsets (and turned grey first when asked).
void buildCellColourRaster(const TPicture& source, const MosaicSettings& settings, TDIB& out);

/// mosaicWidth × mosaicHeight raster in which every cell is a block of its
/// colour, shifted by the source offsets a second time.
void buildBlockPreview(const TDIB& cellColourRaster, const MosaicSettings& settings, TDIB& out);

enum class ApplyOutcome { Applied, TooBig };

/// The size step's Apply without its window: sets the size fields, refuses
/// mosaics above 1200 MB (nothing but the fields changes then), rebuilds
/// cellColourRaster and gives mosaicImage its size and block preview. The
/// old preview is released first and the new one swapped in under
/// mosaicImageLock; a render must not be running.
ApplyOutcome applySize(MosaicJob& job, int rows, int cols, int cellWidth, int cellHeight);

}  // namespace tsx
