// The placement rules transcribed as plainly as they can be written, kept as
// the reference that the fast placement is checked and timed against.
#pragma once

#include <algorithm>
#include <array>

#include "engine/mosaic_job.h"
#include "engine/random.h"

namespace tsx::test {

// A transcription of the placement rules as plainly as they can be written:
// records re-read from workingSignatures for every picture and cell, cell
// colours read from the raster, the worst slot searched for every offer,
// candidate indexes never reset. The fast placement must match it exactly.
// The three fallbacks are the ones this program chose for inputs the rules
// leave open (too few eligible pictures, none at all, no free cell left).
inline void literalPlaceCells(MosaicJob& job, Random& random, int n)
{
    const MosaicSettings& s = job.settings;
    for (int c = 0; c < 800; ++c)
        for (int r = 0; r < 800; ++r)
            job.placementGrid.at(c, r).occupied = 0;
    job.workingSignatures = job.signatureStream;
    auto cellColour = [&](int c, int r) {
        const uint8_t* p = job.cellColourRaster.ScanLine(r) + 3 * c;
        return std::array<int, 3>{p[2], p[1], p[0]};
    };
    auto placeInto = [&](int i, int c, int r) {
        CellSignature sig = signatureAt(job.workingSignatures, size_t(i));
        const auto col = cellColour(c, r);
        CellPlacement& p = job.placementGrid.at(c, r);
        p.imageIndex = i;
        p.redOffset = sig.red - col[0];
        p.greenOffset = sig.green - col[1];
        p.blueOffset = sig.blue - col[2];
        p.occupied = 1;
        sig.useCount = int32_t(uint32_t(sig.useCount) + 1u);
        setSignatureAt(job.workingSignatures, size_t(i), sig);
    };
    if (s.selfMosaic) {
        const CellSignature src = computeSignature(job.sourcePicture);
        for (int r = 0; r < s.rows; ++r)
            for (int c = 0; c < s.cols; ++c) {
                const auto col = cellColour(c, r);
                CellPlacement& p = job.placementGrid.at(c, r);
                p.redOffset = src.red - col[0];
                p.greenOffset = src.green - col[1];
                p.blueOffset = src.blue - col[2];
            }
        return;
    }
    if (s.useAll) {
        for (int i = 0; i < n; ++i) {
            const CellSignature sig = signatureAt(job.workingSignatures, size_t(i));
            int best = 999, bestC = -1, bestR = -1;
            for (int r = 0; r < s.rows; ++r)
                for (int c = 0; c < s.cols; ++c) {
                    if (job.placementGrid.at(c, r).occupied)
                        continue;
                    const auto col = cellColour(c, r);
                    const int d = colourDistance(col[0], col[1], col[2], sig.red, sig.green, sig.blue);
                    if (d < best) {
                        best = d;
                        bestC = c;
                        bestR = r;
                    }
                }
            if (bestC >= 0)
                placeInto(i, bestC, bestR);
        }
    }
    if (n == 0)
        return;
    int slotIndex[9] = {};
    int slotDist[9] = {};
    for (int r = 0; r < s.rows; ++r)
        for (int c = 0; c < s.cols; ++c) {
            if (job.placementGrid.at(c, r).occupied)
                continue;
            const auto col = cellColour(c, r);
            auto fill = [&](bool limit, bool neighbours) {
                for (int k = 1; k <= 8; ++k)
                    slotDist[k] = 999;
                for (int i = 0; i < n; ++i) {
                    const CellSignature sig = signatureAt(job.workingSignatures, size_t(i));
                    bool eligible = true;
                    if (limit && s.limitRepeat && int64_t(sig.useCount) + 1 > s.maxRepeat)
                        eligible = false;
                    if (neighbours && s.noClose) {
                        if (c > 0 && job.placementGrid.at(c - 1, r).imageIndex == i)
                            eligible = false;
                        if (r > 0 && job.placementGrid.at(c, r - 1).imageIndex == i)
                            eligible = false;
                        if (c > 0 && r > 0 && job.placementGrid.at(c - 1, r - 1).imageIndex == i)
                            eligible = false;
                    }
                    if (!eligible)
                        continue;
                    const int d = colourDistance(sig.red, sig.green, sig.blue, col[0], col[1], col[2]);
                    int worst = 1;
                    for (int k = 2; k <= 8; ++k)
                        if (slotDist[k] > slotDist[worst])
                            worst = k;
                    if (d < slotDist[worst]) {
                        slotIndex[worst] = i;
                        slotDist[worst] = d;
                    }
                }
                int filled = 0;
                for (int k = 1; k <= 8; ++k)
                    filled += slotDist[k] < 999;
                return filled;
            };
            int filled = fill(true, true);
            if (filled == 0)
                filled = fill(false, true);
            if (filled == 0)
                filled = fill(false, false);
            for (int k = 1; k <= 8; ++k) {
                int m = k;
                for (int j = k + 1; j <= 8; ++j)
                    if (slotDist[j] < slotDist[m])
                        m = j;
                std::swap(slotIndex[k], slotIndex[m]);
                std::swap(slotDist[k], slotDist[m]);
            }
            const int draws = std::max(0, s.randomLevel - 1);
            const int j = random.next(std::min(draws, filled));
            placeInto(slotIndex[j + 1], c, r);
        }
}

}  // namespace tsx::test
