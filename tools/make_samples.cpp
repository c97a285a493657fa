// Makes the sample pictures beside the executables: a folder of varied,
// photograph-like cell pictures (mostly JPEG, some BMP) and a source picture
// for the demo mosaic. Usage: tesserix-make-samples <folder> <source.jpg> <count>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "raster/byte_io.h"
#include "raster/dib.h"
#include "tools/sample_art.h"

namespace {

using namespace tsx;
using namespace tsx::samples;

// Cell pictures come in the shapes photographs have.
void sampleSize(int index, int& width, int& height)
{
    static const int sizes[][2] = {{160, 120}, {120, 160}, {144, 144}, {192, 128}, {128, 96}};
    // not index % 5 alone: the kind of picture also follows index % 5
    const int* size = sizes[(index + index / 5) % 5];
    width = size[0];
    height = size[1];
}

void writeBmp(const RgbImage& img, const std::string& fileName)
{
    TDIB dib;
    dib.Allocate(img.width, img.height, 24);
    for (int y = 0; y < img.height; ++y) {
        uint8_t* row = dib.RowPointer(y);
        const uint8_t* src = img.pixels.data() + size_t(y) * size_t(img.width) * 3;
        for (int x = 0; x < img.width; ++x) {
            row[3 * x] = src[3 * x + 2];
            row[3 * x + 1] = src[3 * x + 1];
            row[3 * x + 2] = src[3 * x];
        }
    }
    dib.WriteBmp(fileName);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <folder> <source.jpg> <count>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const std::string sourceFile = argv[2];
    const int count = std::atoi(argv[3]);
    try {
        std::filesystem::create_directories(folder);
        for (int i = 0; i < count; ++i) {
            int width = 0, height = 0;
            sampleSize(i, width, height);
            const RgbImage img = samplePicture(i, width, height);
            char name[32];
            // every eighth picture is a bitmap, so the folder mixes formats
            const bool bmp = i % 8 == 5;
            std::snprintf(name, sizeof name, "sample_%03d.%s", i, bmp ? "bmp" : "jpg");
            const std::string path = (folder / name).string();
            if (bmp)
                writeBmp(img, path);
            else
                writeWholeFile(path, encodeJpeg(img));
        }
        writeWholeFile(sourceFile, encodeJpeg(sourcePicture(800, 600), 92));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
