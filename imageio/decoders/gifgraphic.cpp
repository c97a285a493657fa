#include <algorithm>
#include <cctype>
#include <vector>

#include "imageio/decoders/decode_support.h"
#include "imageio/decoders/decoder.h"
#include "imageio/decoders/graphics.h"
#include "raster/byte_io.h"

namespace tsx {

namespace {
constexpr const char* kNotGIF = "Not a valid GIF file.";

// Sub-blocks are skipped by their lengths, so a data byte that happens to be
// "," or ";" inside an extension is never mistaken for a block start. A file
// that ends inside the blocks just ends.
void skipSubBlocks(ByteReader& r)
{
    while (!r.atEnd()) {
        const size_t n = r.u8();
        if (n == 0)
            return;
        r.seek(r.pos() + std::min(n, r.remaining()));
    }
}

void readColourTable(ByteReader& r, int flags, TColorTable& table)
{
    const int entries = 2 << (flags & 7);
    for (int i = 0; i < entries; ++i) {
        const uint8_t red = r.u8(), green = r.u8(), blue = r.u8();
        table[size_t(i)] = TRGBQuad{blue, green, red, 0};
    }
}
}  // namespace

void TGIFGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    ByteReader r(data, size);
    uint8_t signature[6];
    r.bytes(signature, sizeof signature);
    if (std::toupper(signature[0]) != 'G' || std::toupper(signature[1]) != 'I'
        || std::toupper(signature[2]) != 'F')
        decode::fail(kNotGIF);
    const int screenWidth = r.u16le();
    const int screenHeight = r.u16le();
    const int screenFlags = r.u8();
    r.skip(2);  // background colour and aspect ratio

    TColorTable table;
    decode::setGreyRamp(table, 8);  // for files that carry no colour table at all
    if (screenFlags & 0x80) {
        table.fill(TRGBQuad{});
        readColourTable(r, screenFlags, table);
    }

    for (;;) {
        if (r.atEnd()) {
            dib_.MakeEmpty();
            return;
        }
        const uint8_t b = r.u8();
        if (b == ';') {
            dib_.MakeEmpty();
            return;
        }
        if (b == ',')
            break;
        if (b == '!') {
            if (!r.atEnd())
                r.u8();  // the extension's label
            skipSubBlocks(r);
        }
        // any other byte is stray data between blocks and is passed over
    }

    r.skip(4);  // left and top within the screen
    int width = r.u16le();
    int height = r.u16le();
    const int imageFlags = r.u8();
    if (width == 0)
        width = screenWidth;
    if (height == 0)
        height = screenHeight;
    if (imageFlags & 0x80) {
        table.fill(TRGBQuad{});
        readColourTable(r, imageFlags, table);
    }
    const int minCodeSize = r.u8();
    if (minCodeSize < 1 || minCodeSize > 11)
        decode::fail(kNotGIF);

    std::vector<uint8_t> packed;
    while (!r.atEnd()) {
        const size_t n = r.u8();
        if (n == 0)
            break;
        const auto block = r.take(std::min(n, r.remaining()));
        packed.insert(packed.end(), block.begin(), block.end());
    }

    decode::checkDimensions(width, height, kNotGIF);
    if (int64_t(width) * height > decode::lzwMaxOutput(int64_t(packed.size()), minCodeSize + 1))
        decode::fail(kNotGIF);

    TDIB dib;
    dib.Allocate(width, height, 8);
    dib.ColorTable() = table;

    TGIFLZW lzw(minCodeSize);
    std::span<const uint8_t> src(packed);
    const bool interlaced = imageFlags & 0x40;
    static const int passStart[4] = {0, 4, 2, 1};
    static const int passStep[4] = {8, 8, 4, 2};
    int pass = 0, y = 0;
    for (int row = 0; row < height; ++row) {
        if (lzw.Decode(src, std::span<uint8_t>(dib.RowPointer(y), size_t(width))) < size_t(width))
            break;  // the data ended; the remaining rows stay colour 0
        if (!interlaced) {
            ++y;
            continue;
        }
        y += passStep[pass];
        while (y >= height && pass < 3) {
            ++pass;
            y = passStart[pass];
        }
        if (y >= height)
            break;
    }
    dib_ = std::move(dib);
}

}  // namespace tsx
