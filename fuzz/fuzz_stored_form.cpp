// The raster's own stored form and BMP form on arbitrary bytes; whatever
// loads must survive both stretches, the effects and a second round through
// the stored form.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/dib.h"
#include "raster/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    try {
        tsx::TDIB dib;
        // the first byte chooses the form, so one corpus covers both
        if (data[0] & 1)
            dib.LoadBmpForm(data + 1, size - 1);
        else
            dib.LoadStoredForm(data + 1, size - 1);
        // large rasters are legal but slow the search down without reaching new code
        if (dib.IsEmpty() || dib.Size() > (1 << 16))
            return 0;
        const std::vector<uint8_t> form = dib.SaveStoredForm();
        tsx::TDIB back;
        back.LoadStoredForm(form.data(), form.size());
        // stretch rectangles taken from the input's last bytes, reaching
        // past either raster on any side
        auto coordinate = [&](size_t k) { return int(int8_t(data[size - 1 - k % size])); };
        tsx::TDIB cell;
        cell.Allocate(7, 5, 24);
        const tsx::TRect from{coordinate(0), coordinate(1), coordinate(2), coordinate(3)};
        const tsx::TRect to{coordinate(4), coordinate(5), coordinate(6), coordinate(7)};
        tsx::stretchAreaAverage(dib, from, cell, to);
        tsx::stretchNearest(dib, from, cell, to);
        dib.Mirror(true, true);
        dib.ChangeBitCount(24);
        dib.Greyscale(24);
    } catch (const tsx::Error&) {
    }
    return 0;
}
