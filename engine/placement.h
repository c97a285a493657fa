// Choosing an ImageList picture for every cell of the mosaic.
#pragma once

#include "engine/mosaic_job.h"
#include "engine/random.h"

namespace tsx {

/// Seeds the generator from the clock, then places imageCount ImageList
/// pictures into the cells of the job (placeCellsUnseeded).
void placeCells(MosaicJob& job, Random& random, int imageCount);

/// Fills job.placementGrid and job.workingSignatures from the cell colours of
/// job.cellColourRaster and the first imageCount records of
/// job.signatureStream, drawing from the generator as it stands (for callers
/// that set its state themselves). In self-mosaic mode only the colour
/// offsets of the cells are written.
void placeCellsUnseeded(MosaicJob& job, Random& random, int imageCount);

}  // namespace tsx
