#include "imageio/decoders/decode_support.h"
#include "imageio/decoders/graphics.h"
#include "raster/byte_io.h"

namespace tsx {

namespace {
constexpr const char* kNotOldAutodesk = "Cannot load image. Only old style Autodesk images are supported.";

constexpr uint16_t kMagic = 0x9119;
constexpr size_t kHeaderBytes = 32;  // the magic and the 30 bytes after it
}  // namespace

void TAutodeskGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    ByteReader r(data, size);
    if (r.u16le() != kMagic)
        decode::fail(kNotOldAutodesk);
    const int width = r.u16le();
    const int height = r.u16le();
    r.seek(kHeaderBytes);

    TColorTable table;
    for (auto& entry : table) {
        // 6-bit values: four times each gives the 0..252 range
        const uint8_t red = r.u8(), green = r.u8(), blue = r.u8();
        entry = TRGBQuad{uint8_t(blue * 4), uint8_t(green * 4), uint8_t(red * 4), 0};
    }

    decode::checkDimensions(width, height, kNotOldAutodesk);
    // rows are stored whole; a short file is a short read, refused before allocating
    r.need(size_t(width) * size_t(height));

    TDIB dib;
    dib.Allocate(width, height, 8);
    dib.ColorTable() = table;
    for (int y = 0; y < height; ++y)
        r.bytes(dib.RowPointer(y), size_t(width));
    dib_ = std::move(dib);
}

}  // namespace tsx
