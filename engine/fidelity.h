// How close a mosaic comes to its source: the match distances of the
// placement, and the structure (SSIM) and colour (PSNR) of the drawn mosaic
// against the source at a few pixels per cell, where a viewer at a distance
// sees the subject rather than the pictures.
#pragma once

#include <cstdint>

#include "engine/mosaic_job.h"

namespace tsx {

/// The colour distance of every placed cell (its picture's signature against
/// the cell's colour, which the colour offsets hold).
struct MatchFigures {
    int64_t cells = 0;
    double meanDistance = 0;
    int worstDistance = 0;
};
MatchFigures matchFigures(const MosaicSettings& settings, const PlacementGrid& grid);

/// Mean SSIM of the luma of two rasters of one size (24 bits): an 11 x 11
/// Gaussian window of sigma 1.5, the usual constants for 8-bit values.
double structuralSimilarity(const TDIB& a, const TDIB& b);
/// PSNR in dB over the three channels of two rasters of one size (99 when equal).
double peakSignalToNoise(const TDIB& a, const TDIB& b);

/// The mosaic against the source, both area-averaged onto cols x rows cells:
/// SSIM at pixelsPerCell pixels a cell, PSNR at one.
struct Fidelity {
    double ssim = 0;
    double psnr = 0;
    int pixelsPerCell = 0;
};
inline constexpr int kFidelityPixelsPerCell = 4;
Fidelity mosaicFidelity(const TDIB& mosaic, const TDIB& source, int rows, int cols,
                        int pixelsPerCell = kFidelityPixelsPerCell);

/// The source as the mosaic aims at it: the source picture with the job's
/// colour adjustments.
TDIB adjustedSource(const MosaicJob& job);

}  // namespace tsx
