// convert and signature: the picture loader from the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "engine/mosaic_job.h"
#include "imageio/picture.h"
#include "raster/byte_io.h"
#include "raster/dib.h"

namespace tsx::cli {
namespace {

bool endsWithPpm(const std::string& name)
{
    if (name.size() < 4)
        return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".ppm";
}

// Binary PPM, red, green, blue, top row first, one row at a time.
void writePpm(const TDIB& dib, const std::string& fileName)
{
    AtomicFileWriter file(fileName);
    const std::string header = "P6\n" + std::to_string(dib.Width()) + " " + std::to_string(dib.Height()) + "\n255\n";
    file.write(header.data(), header.size());
    std::vector<uint8_t> row(size_t(dib.Width()) * 3);
    for (int y = 0; y < dib.Height(); ++y) {
        const uint8_t* in = dib.ScanLine(y);
        for (size_t i = 0; i < row.size(); i += 3) {
            row[i] = in[i + 2];
            row[i + 1] = in[i + 1];
            row[i + 2] = in[i];
        }
        file.write(row.data(), row.size());
    }
    file.commit();
}

void convert(const std::string& in, const std::string& out)
{
    TPicture picture;
    LoadPicture(in, picture);
    TDIB dib;
    dib.AssignFrom(picture.Graphic());
    if (endsWithPpm(out))
        writePpm(dib, out);
    else
        dib.WriteBmp(out);
}

void printSignature(const std::string& fileName)
{
    TPicture picture;
    LoadPicture(fileName, picture);
    const CellSignature sig = computeSignature(picture);
    std::printf("%s %d %d %d\n", fileName.c_str(), sig.red, sig.green, sig.blue);
}

void setup(CLI::App& app)
{
    auto* conv = app.add_subcommand("convert", "Load a picture and write it as a 24-bit BMP (or PPM for *.ppm)");
    static std::string in, out;
    conv->add_option("IN", in, "picture to load")->required();
    conv->add_option("OUT", out, "file to write")->required();
    conv->callback([] { convert(in, out); });

    auto* sig = app.add_subcommand("signature", "Print the colour signature (red green blue) of each picture");
    static std::vector<std::string> files;
    sig->add_option("FILE", files, "pictures")->required();
    sig->callback([] {
        for (const std::string& f : files)
            printSignature(f);
    });
}

const CommandRegistration registration(&setup);

}  // namespace
}  // namespace tsx::cli
