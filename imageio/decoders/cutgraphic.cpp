#include <filesystem>
#include <vector>

#include "imageio/decoders/decode_support.h"
#include "imageio/decoders/decoder.h"
#include "imageio/decoders/graphics.h"
#include "raster/byte_io.h"

namespace tsx {

namespace {
constexpr int kBestRunRatio = 64;  // two bytes make at most 127 pixels
constexpr size_t kPaletteHeaderBytes = 40;

// The palette file: entries of three 16-bit values whose low bytes are the
// colour, after the 40-byte header that files starting with "AH" carry.
void readPalette(std::span<const uint8_t> file, TColorTable& table)
{
    ByteReader r(file);
    if (file.size() >= kPaletteHeaderBytes && file[0] == 'A' && file[1] == 'H')
        r.seek(kPaletteHeaderBytes);
    table.fill(TRGBQuad{});
    for (size_t i = 0; i < table.size() && r.remaining() >= 6; ++i) {
        const uint8_t red = uint8_t(r.u16le()), green = uint8_t(r.u16le()), blue = uint8_t(r.u16le());
        table[i] = TRGBQuad{blue, green, red, 0};
    }
}

std::string paletteFileFor(const std::string& fileName, const char* extension)
{
    std::filesystem::path path(fileName);
    path.replace_extension(extension);
    return path.string();
}
}  // namespace

void TCUTGraphic::LoadFromFile(const std::string& fileName)
{
    const std::vector<uint8_t> picture = readWholeFile(fileName);
    std::vector<uint8_t> palette;
    for (const char* extension : {".pal", ".PAL"}) {
        const std::string candidate = paletteFileFor(fileName, extension);
        std::error_code ignored;
        if (std::filesystem::is_regular_file(candidate, ignored)) {
            palette = readWholeFile(candidate);
            break;
        }
    }
    LoadWithPalette(picture.data(), picture.size(), palette);
}

void TCUTGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    LoadWithPalette(data, size, {});
}

void TCUTGraphic::LoadWithPalette(const uint8_t* data, size_t size, std::span<const uint8_t> palette)
{
    ByteReader r(data, size);
    const int width = r.u16le();
    const int height = r.u16le();
    r.skip(2);
    if (width == 0 || height == 0)
        throw EInvalidGraphic(msg::kBitmapInvalid);
    if (int64_t(width) * height > (int64_t(r.remaining()) + 16) * kBestRunRatio)
        throw EInvalidGraphic(msg::kBitmapInvalid);

    TDIB dib;
    dib.Allocate(width, height, 8);
    if (palette.empty())
        decode::setGreyRamp(dib.ColorTable(), 8);
    else
        readPalette(palette, dib.ColorTable());

    TCUTRLE rle;
    std::span<const uint8_t> rest = r.rest();
    for (int y = 0; y < height && rest.size() >= 2; ++y) {
        const size_t rowBytes = std::min<size_t>(2 + size_t(rest[0] | rest[1] << 8), rest.size());
        std::span<const uint8_t> src = rest.first(rowBytes);
        rle.Decode(src, std::span<uint8_t>(dib.RowPointer(y), size_t(width)));
        rest = rest.subspan(rowBytes);
    }
    dib_ = std::move(dib);
}

}  // namespace tsx
