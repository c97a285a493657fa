// Small jobs built in code for the engine tests.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "engine/mosaic_job.h"
#include "engine/placement.h"
#include "engine/random.h"

namespace tsx::test {

using Colour = std::array<uint8_t, 3>;  // red, green, blue
using ColourList = std::vector<Colour>;

inline void fillRaster(TDIB& dib, int width, int height, const ColourList& colours)
{
    dib.Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = dib.RowPointer(y);
        for (int x = 0; x < width; ++x, p += 3) {
            const Colour& c = colours.size() == 1 ? colours[0] : colours[size_t(y) * size_t(width) + size_t(x)];
            p[0] = c[2];
            p[1] = c[1];
            p[2] = c[0];
        }
    }
}

// A job of rows × cols cells with the given cell colours (row by row) and
// one signature per picture.
inline std::unique_ptr<MosaicJob> makePlacementJob(int rows, int cols, const ColourList& cells,
                                                   const ColourList& signatures)
{
    auto job = std::make_unique<MosaicJob>();
    job->settings = MosaicSettings::wizardDefaults();
    job->settings.rows = rows;
    job->settings.cols = cols;
    fillRaster(job->cellColourRaster, cols, rows, cells);
    for (const Colour& s : signatures)
        appendSignature(job->signatureStream, CellSignature{s[0], s[1], s[2], 0, 0});
    return job;
}

inline void setSourceColour(MosaicJob& job, uint8_t red, uint8_t green, uint8_t blue)
{
    fillRaster(job.sourcePicture.Bitmap().Dib(), 4, 4, {{red, green, blue}});
}

// Places from a fixed generator state rather than the clock, so a failure
// comes back on every run.
inline void placeSeeded(MosaicJob& job, Random& random, int imageCount, uint32_t seed = 20261208)
{
    random.setState(seed);
    placeCellsUnseeded(job, random, imageCount);
}

}  // namespace tsx::test
