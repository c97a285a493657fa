#include "engine/mosaic_job.h"

#include <cstdlib>

#include "raster/byte_io.h"

namespace tsx {

namespace {

void storeLE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

}  // namespace

MosaicSettings MosaicSettings::wizardDefaults()
{
    const WizardDefaults& d = kWizardDefaults;
    MosaicSettings s;
    s.sourceRedAdjust = s.sourceGreenAdjust = s.sourceBlueAdjust = d.sourceAdjust.initial;
    s.rows = d.rows.initial;
    s.cols = d.cols.initial;
    s.cellWidth = d.cellWidth.initial;
    s.cellHeight = d.cellHeight.initial;
    s.mosaicHeight = s.rows * s.cellHeight;
    s.mosaicWidth = s.cols * s.cellWidth;
    s.stretchCells = d.stretchCells;
    s.cutEdges = !d.stretchCells;
    s.randomLevel = d.randomLevel.initial;
    s.noClose = d.noClose;
    s.maxRepeat = d.maxRepeat.initial;
    return s;
}

void MosaicSettings::writeTo(uint8_t out[kSettingsBytes]) const
{
    std::vector<uint8_t> bytes;
    bytes.reserve(kSettingsBytes);
    ByteWriter w(bytes);
    w.i32le(sourceRedAdjust);
    w.i32le(sourceGreenAdjust);
    w.i32le(sourceBlueAdjust);
    w.u8(sourceMono ? 1 : 0);
    w.zeros(3);
    w.i32le(rows);
    w.i32le(cols);
    w.i32le(cellWidth);
    w.i32le(cellHeight);
    w.i32le(mosaicHeight);
    w.i32le(mosaicWidth);
    w.f64le(diskSpaceMB);
    w.u8(selfMosaic ? 1 : 0);
    w.u8(monoCells ? 1 : 0);
    w.u8(stretchCells ? 1 : 0);
    w.u8(allowVFlip ? 1 : 0);
    w.u8(allowHFlip ? 1 : 0);
    w.zeros(3);
    w.i32le(randomLevel);
    w.u8(useAll ? 1 : 0);
    w.u8(limitRepeat ? 1 : 0);
    w.u8(noClose ? 1 : 0);
    w.u8(cutEdges ? 1 : 0);
    w.i32le(maxRepeat);
    w.u8(colorEnhanceOff ? 1 : 0);
    w.zeros(3);
    w.i32le(savedSignatureBytes);
    w.i32le(savedFileListBytes);
    std::copy(bytes.begin(), bytes.end(), out);
}

MosaicSettings MosaicSettings::readFrom(const uint8_t in[kSettingsBytes])
{
    ByteReader r(in, kSettingsBytes);
    // Any non-zero byte counts as on, the way the stored booleans were read.
    auto flag = [&r] { return r.u8() != 0; };
    MosaicSettings s;
    s.sourceRedAdjust = r.i32le();
    s.sourceGreenAdjust = r.i32le();
    s.sourceBlueAdjust = r.i32le();
    s.sourceMono = flag();
    r.skip(3);
    s.rows = r.i32le();
    s.cols = r.i32le();
    s.cellWidth = r.i32le();
    s.cellHeight = r.i32le();
    s.mosaicHeight = r.i32le();
    s.mosaicWidth = r.i32le();
    s.diskSpaceMB = r.f64le();
    s.selfMosaic = flag();
    s.monoCells = flag();
    s.stretchCells = flag();
    s.allowVFlip = flag();
    s.allowHFlip = flag();
    r.skip(3);
    s.randomLevel = r.i32le();
    s.useAll = flag();
    s.limitRepeat = flag();
    s.noClose = flag();
    s.cutEdges = flag();
    s.maxRepeat = r.i32le();
    s.colorEnhanceOff = flag();
    r.skip(3);
    s.savedSignatureBytes = r.i32le();
    s.savedFileListBytes = r.i32le();
    return s;
}

void PlacementGrid::writeTo(uint8_t* out) const
{
    // 12.8 MB per call: stored straight into the caller's buffer rather than
    // through a growing vector.
    uint8_t* p = out;
    for (const CellPlacement& cell : cells_) {
        storeLE32(p, uint32_t(cell.imageIndex));
        storeLE32(p + 4, uint32_t(cell.redOffset));
        storeLE32(p + 8, uint32_t(cell.greenOffset));
        storeLE32(p + 12, uint32_t(cell.blueOffset));
        p[16] = cell.occupied;
        p[17] = p[18] = p[19] = 0;
        p += kCellPlacementBytes;
    }
}

void PlacementGrid::readFrom(const uint8_t* in)
{
    ByteReader r(in, kPlacementGridBytes);
    for (CellPlacement& cell : cells_) {
        cell.imageIndex = r.i32le();
        cell.redOffset = r.i32le();
        cell.greenOffset = r.i32le();
        cell.blueOffset = r.i32le();
        cell.occupied = r.u8();
        r.skip(3);
    }
}

CellSignature signatureAt(const std::vector<uint8_t>& stream, size_t k)
{
    if (k >= signatureCount(stream))
        throw EReadError(msg::kStreamRead);
    ByteReader r(stream.data() + k * kSignatureBytes, kSignatureBytes);
    CellSignature sig;
    sig.red = r.u8();
    sig.green = r.u8();
    sig.blue = r.u8();
    sig.reserved = r.u8();
    sig.useCount = r.i32le();
    return sig;
}

void setSignatureAt(std::vector<uint8_t>& stream, size_t k, const CellSignature& sig)
{
    if (k >= signatureCount(stream))
        throw EWriteError(msg::kStreamWrite);
    uint8_t* p = stream.data() + k * kSignatureBytes;
    p[0] = sig.red;
    p[1] = sig.green;
    p[2] = sig.blue;
    p[3] = sig.reserved;
    storeLE32(p + 4, uint32_t(sig.useCount));
}

void appendSignature(std::vector<uint8_t>& stream, const CellSignature& sig)
{
    ByteWriter w(stream);
    w.u8(sig.red);
    w.u8(sig.green);
    w.u8(sig.blue);
    w.u8(sig.reserved);
    w.i32le(sig.useCount);
}

int colourDistance(int r1, int g1, int b1, int r2, int g2, int b2)
{
    return std::abs(r1 - r2) + std::abs(g1 - g2) + std::abs(b1 - b2);
}

CellSignature computeSignature(const TPicture& picture)
{
    CellSignature sig;
    const TGraphic* graphic = picture.Graphic();
    if (!graphic || graphic->Empty())
        return sig;
    TDIB sample;
    sample.Allocate(16, 16, 24);
    sample.Canvas().StretchDraw(TRect{0, 0, 16, 16}, *graphic);
    int blue = 0, green = 0, red = 0;
    for (int y = 0; y < 16; ++y) {
        const uint8_t* p = sample.ScanLine(y);
        for (int x = 0; x < 16; ++x, p += 3) {
            blue += p[0];
            green += p[1];
            red += p[2];
        }
    }
    sig.red = uint8_t(red / 256);
    sig.green = uint8_t(green / 256);
    sig.blue = uint8_t(blue / 256);
    return sig;
}

void adjustColours(TDIB& raster, int redOffset, int greenOffset, int blueOffset, bool toGrey)
{
    raster.ChangeBitCount(24);
    // Beyond ±256 every table entry is already 0 or 255; bounding the offsets
    // keeps offsets read from a file from overflowing the sums below.
    redOffset = std::clamp(redOffset, -256, 256);
    greenOffset = std::clamp(greenOffset, -256, 256);
    blueOffset = std::clamp(blueOffset, -256, 256);
    std::array<uint8_t, 256> blue{}, green{}, red{};
    for (int i = 0; i < 256; ++i) {
        blue[size_t(i)] = uint8_t(clampByte(blueOffset + i));
        green[size_t(i)] = uint8_t(clampByte(greenOffset + i));
        red[size_t(i)] = uint8_t(clampByte(redOffset + i));
    }
    if (toGrey)
        raster.Greyscale(24);
    const int width = raster.Width();
    for (int y = 0; y < raster.Height(); ++y) {
        uint8_t* p = raster.RowPointer(y);
        for (int x = 0; x < width; ++x, p += 3) {
            p[0] = blue[p[0]];
            p[1] = green[p[1]];
            p[2] = red[p[2]];
        }
    }
}

}  // namespace tsx
