#include "app/project_file.h"

#include <mutex>

#include <zlib.h>

#include "raster/byte_io.h"
#include "raster/errors.h"
#include "wizard/mosaic_size.h"

namespace tsx {

namespace {

[[noreturn]] void refuse(const char* why)
{
    throw EInvalidProject(formatMessage("This is not a valid project file: %s.", why));
}

bool within(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

// Values the renderer and the wizard rely on. A file our program wrote
// always passes; anything else would make the render divide by zero, index
// past the placement table or ask for an absurd raster.
void checkSettings(const MosaicSettings& s, ProjectSizeLimit limit)
{
    const bool emptyJob = s.rows == 0 && s.cols == 0 && s.mosaicWidth == 0 && s.mosaicHeight == 0;
    if (!emptyJob) {
        if (!within(s.rows, 1, kGridSide) || !within(s.cols, 1, kGridSide))
            refuse("the number of rows or columns lies outside 1 to 800");
        if (!within(s.cellWidth, 1, kGridSide) || !within(s.cellHeight, 1, kGridSide))
            refuse("the cell size lies outside 1 to 800 pixels");
        if (s.mosaicWidth != s.cols * s.cellWidth || s.mosaicHeight != s.rows * s.cellHeight)
            refuse("the mosaic size does not match its cells");
        if (limit == ProjectSizeLimit::Window && exceedsDiskLimit(diskSpaceMB(s.mosaicWidth, s.mosaicHeight)))
            refuse("the mosaic is larger than 1200 MB");
    }
    if (!within(s.sourceRedAdjust, -255, 255) || !within(s.sourceGreenAdjust, -255, 255) ||
        !within(s.sourceBlueAdjust, -255, 255))
        refuse("a colour offset of the source lies outside -255 to 255");
}

void checkPlacement(const MosaicSettings& s, const PlacementGrid& grid)
{
    for (int c = 0; c < s.cols; ++c) {
        for (int r = 0; r < s.rows; ++r) {
            const CellPlacement& p = grid.at(c, r);
            if (!within(p.redOffset, -255, 255) || !within(p.greenOffset, -255, 255) ||
                !within(p.blueOffset, -255, 255))
                refuse("a cell's colour offset lies outside -255 to 255");
        }
    }
}

constexpr char kMarksTag[8] = { 'T', 'S', 'X', 'M', 'A', 'R', 'K', 'S' };
constexpr size_t kMarksFrameBytes = sizeof kMarksTag + 4 + 4;  // tag, length, CRC

uint32_t crcOf(std::span<const uint8_t> bytes)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most 4 GB at a time; the block is far smaller
    crc = crc32(crc, bytes.data(), uInt(bytes.size()));
    return uint32_t(crc);
}

}  // namespace

std::vector<uint8_t> cellMarksBlock(const CellMarks& marks)
{
    std::vector<uint8_t> payload;
    ByteWriter w(payload);
    w.u32le(uint32_t(marks.locked.size()));
    for (const CellRef& cell : marks.locked) {
        w.u16le(uint16_t(cell.col));
        w.u16le(uint16_t(cell.row));
    }
    w.u32le(uint32_t(marks.excluded.size()));
    for (int32_t index : marks.excluded)
        w.i32le(index);

    std::vector<uint8_t> block;
    ByteWriter b(block);
    b.bytes(kMarksTag, sizeof kMarksTag);
    b.u32le(uint32_t(payload.size()));
    b.bytes(payload.data(), payload.size());
    b.u32le(crcOf(payload));
    return block;
}

CellMarks readCellMarksBlock(std::span<const uint8_t> bytes, const MosaicSettings& s, size_t pathCount)
{
    if (bytes.size() < kMarksFrameBytes || !std::equal(kMarksTag, kMarksTag + sizeof kMarksTag, bytes.begin()))
        return {};
    try {
        ByteReader r(bytes);
        r.skip(sizeof kMarksTag);
        const uint32_t length = r.u32le();
        if (length != bytes.size() - kMarksFrameBytes)
            return {};
        const std::span<const uint8_t> payload = r.take(length);
        if (r.u32le() != crcOf(payload))
            return {};
        ByteReader p(payload);
        CellMarks marks;
        const uint32_t locks = p.u32le();
        if (locks > p.remaining() / 4)
            return {};
        for (uint32_t k = 0; k < locks; ++k) {
            const CellRef cell{ p.u16le(), p.u16le() };
            if (cell.col >= s.cols || cell.row >= s.rows)
                return {};
            marks.locked.insert(cell);
        }
        const uint32_t excluded = p.u32le();
        if (excluded != p.remaining() / 4 || p.remaining() % 4 != 0)
            return {};
        for (uint32_t k = 0; k < excluded; ++k) {
            const int32_t index = p.i32le();
            if (index < 0 || size_t(index) >= pathCount)
                return {};
            marks.excluded.insert(index);
        }
        return marks;
    } catch (const EReadError&) {
        return {};
    }
}

std::vector<uint8_t> buildProjectImage(MosaicJob& job, const ImageList& list, const CellMarks& marks)
{
    const std::string text = joinTextLines(list.paths());
    if (text.size() > size_t(INT32_MAX) || job.workingSignatures.size() > size_t(INT32_MAX))
        throw EWriteError(msg::kStreamWrite);
    job.settings.savedSignatureBytes = int32_t(job.workingSignatures.size());
    job.settings.savedFileListBytes = int32_t(text.size());

    std::vector<uint8_t> image(kProjectFixedBytes + text.size() + job.workingSignatures.size());
    uint8_t* p = image.data();
    job.settings.writeTo(p);
    p += kSettingsBytes;
    std::copy(text.begin(), text.end(), p);
    p += text.size();
    std::copy(job.workingSignatures.begin(), job.workingSignatures.end(), p);
    p += job.workingSignatures.size();
    job.placementGrid.writeTo(p);
    if (!marks.empty()) {
        const std::vector<uint8_t> block = cellMarksBlock(marks);
        image.insert(image.end(), block.begin(), block.end());
    }
    return image;
}

void writeProjectImage(const std::string& fileName, const std::vector<uint8_t>& image)
{
    writeWholeFile(fileName, image);
}

void saveProject(const std::string& fileName, MosaicJob& job, const ImageList& list, const CellMarks& marks)
{
    writeProjectImage(fileName, buildProjectImage(job, list, marks));
}

ProjectContents parseProject(std::span<const uint8_t> bytes, ProjectSizeLimit limit)
{
    if (bytes.size() < kSettingsBytes)
        refuse("the file is too short for its settings");
    ProjectContents out;
    out.settings = MosaicSettings::readFrom(bytes.data());
    const int32_t fileListBytes = out.settings.savedFileListBytes;
    const int32_t signatureBytes = out.settings.savedSignatureBytes;
    if (fileListBytes < 0 || signatureBytes < 0)
        refuse("a block length is negative");
    const size_t needed = kProjectFixedBytes + size_t(fileListBytes) + size_t(signatureBytes);
    if (bytes.size() < needed)
        refuse("the file ends before its last block");
    checkSettings(out.settings, limit);

    ByteReader r(bytes);
    r.skip(kSettingsBytes);
    out.paths = splitTextLines(r.take(size_t(fileListBytes)));
    const std::span<const uint8_t> sigs = r.take(size_t(signatureBytes));
    out.workingSignatures.assign(sigs.begin(), sigs.end());
    out.placementGrid = std::make_unique<PlacementGrid>();
    out.placementGrid->readFrom(r.take(kPlacementGridBytes).data());
    checkPlacement(out.settings, *out.placementGrid);
    out.marks = readCellMarksBlock(r.rest(), out.settings, out.paths.size());
    return out;
}

void commitProject(ProjectContents&& contents, MosaicJob& job, ImageList& list) noexcept
{
    job.settings = contents.settings;
    list.replacePaths(std::move(contents.paths));
    job.workingSignatures.swap(contents.workingSignatures);
    if (contents.placementGrid)
        std::swap(job.placementGrid, *contents.placementGrid);
}

void loadProject(const std::string& fileName, MosaicJob& job, ImageList& list, ProjectSizeLimit limit)
{
    ProjectContents contents = parseProject(readWholeFile(fileName), limit);
    commitProject(std::move(contents), job, list);
}

void sizeMosaicForProject(MosaicJob& job)
{
    const MosaicSettings& s = job.settings;
    std::lock_guard<std::mutex> lock(job.mosaicImageLock);
    TDIB& image = job.mosaicImage;
    if (image.Width() == s.mosaicWidth && image.Height() == s.mosaicHeight && image.BitCount() == 24)
        return;
    // released before the new pixels are taken, so the two never coexist
    image.MakeEmpty();
    if (s.mosaicWidth > 0 && s.mosaicHeight > 0)
        image.Allocate(s.mosaicWidth, s.mosaicHeight, 24);
}

}  // namespace tsx
