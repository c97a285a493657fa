// ImageList files: any input either fails with a read error or loads, and
// what loads saves and loads again to the same list.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "raster/errors.h"
#include "wizard/image_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> stream;
    tsx::ImageList list(stream);
    list.append("before", tsx::CellSignature{1, 2, 3, 0, 4});
    try {
        list.loadImlBytes({data, size});
    } catch (const tsx::EReadError&) {
        // a refused file leaves the list as it was
        if (list.count() != 1 || stream.size() != tsx::kSignatureBytes)
            std::abort();
        return 0;
    }
    const std::vector<uint8_t> saved = list.toImlBytes();
    std::vector<uint8_t> stream2;
    tsx::ImageList again(stream2);
    again.loadImlBytes(saved);
    if (again.paths() != list.paths() || stream2 != stream || again.toImlBytes() != saved)
        std::abort();
    return 0;
}
