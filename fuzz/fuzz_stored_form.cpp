// The raster's own stored form and BMP form on arbitrary bytes; whatever
// loads must survive the effects and a second round through the stored form.
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
        if (dib.IsEmpty() || dib.Size() > (1 << 20))
            return 0;
        const std::vector<uint8_t> form = dib.SaveStoredForm();
        tsx::TDIB back;
        back.LoadStoredForm(form.data(), form.size());
        dib.Mirror(true, true);
        dib.ChangeBitCount(24);
        dib.Greyscale(24);
    } catch (const tsx::Error&) {
    }
    return 0;
}
