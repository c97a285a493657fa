// The mosaic file the batch tool writes: its kind by the extension of --out,
// the options of each kind, and the checks made before any work begins.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "imageio/row_writer.h"

namespace tsx::cli {

struct OutputArgs {
    int jpegQuality = 92;
    bool jpegSubsampled = false;
    std::string tiffCompression = "none";
    int dpi = 0;  // set to the printer window's start value by addOutputOptions
};

/// --quality, --subsample, --compression and --dpi on a command.
void addOutputOptions(CLI::App* command, OutputArgs& args);

/// The write options for fileName: PNG, JPEG or TIFF by its extension, BMP
/// for every other name, as the batch tool has always written.
ImageWriteOptions outputOptions(const std::string& fileName, const OutputArgs& args);

/// Raises the reason a width × height mosaic cannot be written to fileName:
/// the kind's own limits, or a folder that does not exist or cannot be
/// written ("Cannot create file %s").
void checkOutputTarget(const std::string& fileName, const ImageWriteOptions& options, int64_t width, int64_t height);

}  // namespace tsx::cli
