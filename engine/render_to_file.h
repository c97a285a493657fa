// Drawing a placed job straight into an image file, a band of cell rows at a
// time, so a mosaic of any size needs the memory of one band and the picture
// cache, never the whole raster.
#pragma once

#include <string>

#include "engine/render.h"
#include "imageio/row_writer.h"

namespace tsx {

/// Cell rows per band for a mosaic of this width and cell height: bands of
/// about bandBytes, at least one row.
int bandRowsFor(int mosaicWidth, int cellHeight, size_t bandBytes = size_t(16) << 20);

/// Renders the job (renderMosaic, with options.bandFinished and bandRows set
/// here) into fileName. The file is begun before the first cell is drawn, so
/// a folder that cannot take it is told at once; host.finished(true) is told
/// only once the file is complete under its name. On any failure the
/// temporary file is gone and an old file at fileName is untouched.
/// job.mosaicImage is not used. bandRows 0: bandRowsFor the mosaic.
void renderMosaicToFile(MosaicJob& job, Random& random, RenderHost& host, const std::string& fileName,
                        const ImageWriteOptions& writeOptions, RenderOptions options = {}, int bandRows = 0);

}  // namespace tsx
