// A mosaic job: its settings record, the placement of every cell, the
// signatures of the ImageList and the scratch rasters. The
// settings record and the placement grid are file layouts as well (project
// file), so they are serialised explicitly, little-endian, never by copying
// a host struct.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/detail.h"
#include "imageio/picture.h"
#include "raster/dib.h"

namespace tsx {

inline constexpr int kGridSide = 800;               // placementGrid is 800 × 800
inline constexpr size_t kSettingsBytes = 80;
inline constexpr size_t kCellPlacementBytes = 20;
inline constexpr size_t kPlacementGridBytes = size_t(kGridSide) * kGridSide * kCellPlacementBytes;
inline constexpr size_t kSignatureBytes = 8;

/// A setting's range and starting value.
struct SettingRange {
    int minimum, maximum, initial;
};

/// Where the wizard's controls start and what they allow. A new batch job
/// starts from the same values, and the batch tool's flags check the same
/// ranges, so both roads make the same mosaic from the same choices.
struct WizardDefaults {
    SettingRange sourceAdjust{ -255, 255, 0 };
    SettingRange rows{ 16, 640, 32 };
    SettingRange cols{ 16, 640, 32 };
    SettingRange cellWidth{ 24, 800, 48 };
    SettingRange cellHeight{ 24, 800, 48 };
    SettingRange randomLevel{ 1, 8, 5 };
    SettingRange maxRepeat{ 1, 20, 2 };
    bool noClose = true;
    bool stretchCells = true;
};
inline constexpr WizardDefaults kWizardDefaults{};

struct MosaicSettings {
    int32_t sourceRedAdjust = 0;
    int32_t sourceGreenAdjust = 0;
    int32_t sourceBlueAdjust = 0;
    bool sourceMono = false;
    int32_t rows = 0;
    int32_t cols = 0;
    int32_t cellWidth = 0;
    int32_t cellHeight = 0;
    int32_t mosaicHeight = 0;
    int32_t mosaicWidth = 0;
    double diskSpaceMB = 0;
    bool selfMosaic = false;
    bool monoCells = false;
    bool stretchCells = false;
    bool allowVFlip = false;
    bool allowHFlip = false;
    int32_t randomLevel = 0;
    bool useAll = false;
    bool limitRepeat = false;
    bool noClose = false;
    bool cutEdges = false;
    int32_t maxRepeat = 0;
    bool colorEnhanceOff = false;
    int32_t savedSignatureBytes = 0;
    int32_t savedFileListBytes = 0;

    /// The settings of kWizardDefaults.
    static MosaicSettings wizardDefaults();
    void writeTo(uint8_t out[kSettingsBytes]) const;  // padding written as zero
    static MosaicSettings readFrom(const uint8_t in[kSettingsBytes]);
    bool operator==(const MosaicSettings&) const = default;
};

struct CellPlacement {
    int32_t imageIndex = 0;
    int32_t redOffset = 0;    // signature minus cell colour
    int32_t greenOffset = 0;
    int32_t blueOffset = 0;
    uint8_t occupied = 0;
    bool operator==(const CellPlacement&) const = default;
};

// 800 × 800 records, column by column (column c, row r at c × 800 + r).
class PlacementGrid {
public:
    PlacementGrid() : cells_(size_t(kGridSide) * kGridSide) {}
    CellPlacement& at(int col, int row) { return cells_[size_t(col) * kGridSide + size_t(row)]; }
    const CellPlacement& at(int col, int row) const { return cells_[size_t(col) * kGridSide + size_t(row)]; }
    void clear() { std::fill(cells_.begin(), cells_.end(), CellPlacement{}); }
    // The 12,800,000-byte file layout.
    void writeTo(uint8_t* out) const;
    void readFrom(const uint8_t* in);
    bool operator==(const PlacementGrid&) const = default;

private:
    std::vector<CellPlacement> cells_;
};

struct CellSignature {
    uint8_t red = 0, green = 0, blue = 0, reserved = 0;
    int32_t useCount = 0;
    bool operator==(const CellSignature&) const = default;
};

// Reading and writing 8-byte records of a signature buffer (entry k at 8k).
CellSignature signatureAt(const std::vector<uint8_t>& stream, size_t k);
void setSignatureAt(std::vector<uint8_t>& stream, size_t k, const CellSignature& sig);
void appendSignature(std::vector<uint8_t>& stream, const CellSignature& sig);
inline size_t signatureCount(const std::vector<uint8_t>& stream) { return stream.size() / kSignatureBytes; }

struct MosaicJob {
    MosaicSettings settings;
    PlacementGrid placementGrid;
    std::vector<uint8_t> signatureStream;
    std::vector<uint8_t> workingSignatures;
    TPicture sourcePicture;
    TDIB cellColourRaster;
    TPicture cellPicture;
    TDIB cellRaster;
    TDIB mosaicImage;
    // Detail matching (0: off): the grid side and the pictures' detail
    // signatures, which stay out of every file.
    int detailGrid = 0;
    DetailSignatures detailSignatures;
    // The render thread writes mosaicImage a cell at a time while the window
    // may paint it; both hold this lock while touching its pixels.
    std::mutex mosaicImageLock;
};

int colourDistance(int r1, int g1, int b1, int r2, int g2, int b2);
CellSignature computeSignature(const TPicture& picture);
inline int clampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
void adjustColours(TDIB& raster, int redOffset, int greenOffset, int blueOffset, bool toGrey);

}  // namespace tsx
