// Project files. A real one is at least 12.8 MB, far beyond what a fuzzer
// mutates well, so an input is also tried with its placement table filled
// up with zeros. Whatever is accepted must save to a file that is accepted
// again, with the same locks and exclusions.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/project_file.h"
#include "raster/byte_io.h"
#include "raster/errors.h"

namespace {

void tryOne(std::span<const uint8_t> bytes)
{
    static auto job = std::make_unique<tsx::MosaicJob>();
    static tsx::ImageList list(job->signatureStream);
    tsx::ProjectContents contents;
    try {
        contents = tsx::parseProject(bytes);
    } catch (const tsx::EInvalidProject&) {
        return;
    }
    const tsx::CellMarks marks = contents.marks;
    tsx::commitProject(std::move(contents), *job, list);
    const std::vector<uint8_t> image = tsx::buildProjectImage(*job, list, marks);
    tsx::ProjectContents again = tsx::parseProject(image);
    if (again.paths != list.paths() || again.workingSignatures != job->workingSignatures || !(again.marks == marks))
        std::abort();
}

// The block of locks and exclusions, read after an input's settings: what it
// gives lies inside the job and comes back the same from a block written anew.
void tryMarks(std::span<const uint8_t> bytes)
{
    constexpr size_t kPictures = 64;
    const tsx::MosaicSettings settings = tsx::MosaicSettings::readFrom(bytes.data());
    const tsx::CellMarks marks = tsx::readCellMarksBlock(bytes.subspan(tsx::kSettingsBytes), settings, kPictures);
    for (const tsx::CellRef& cell : marks.locked)
        if (cell.col < 0 || cell.row < 0 || cell.col >= settings.cols || cell.row >= settings.rows)
            std::abort();
    for (int32_t index : marks.excluded)
        if (index < 0 || size_t(index) >= kPictures)
            std::abort();
    if (marks.empty())
        return;
    const std::vector<uint8_t> block = tsx::cellMarksBlock(marks);
    if (!(tsx::readCellMarksBlock(block, settings, kPictures) == marks))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tryOne({data, size});
    if (size >= tsx::kSettingsBytes) {
        tryMarks({data, size});
        tsx::ByteReader r(data, size);
        r.seek(72);
        const int64_t signatureBytes = r.i32le();
        const int64_t fileListBytes = r.i32le();
        const int64_t needed = int64_t(tsx::kProjectFixedBytes) + signatureBytes + fileListBytes;
        if (signatureBytes >= 0 && fileListBytes >= 0 && needed > int64_t(size) &&
            needed - int64_t(size) <= int64_t(tsx::kPlacementGridBytes)) {
            std::vector<uint8_t> padded(data, data + size);
            padded.resize(size_t(needed), 0);
            tryOne(padded);
        }
    }
    return 0;
}
