// Project files. A real one is at least 12.8 MB, far beyond what a fuzzer
// mutates well, so an input is also tried with its placement table filled
// up with zeros. Whatever is accepted must save to a file that is accepted
// again.
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
    tsx::commitProject(std::move(contents), *job, list);
    const std::vector<uint8_t> image = tsx::buildProjectImage(*job, list);
    tsx::ProjectContents again = tsx::parseProject(image);
    if (again.paths != list.paths() || again.workingSignatures != job->workingSignatures)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tryOne({data, size});
    if (size >= tsx::kSettingsBytes) {
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
