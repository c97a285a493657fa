#include "cli/mosaic_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include "app/print_layout.h"
#include "raster/errors.h"

namespace tsx::cli {

void addOutputOptions(CLI::App* command, OutputArgs& args)
{
    args.dpi = kDefaultImageDpi;
    command->add_option("--quality", args.jpegQuality, "JPEG quality")->check(CLI::Range(1, 100))->capture_default_str();
    command->add_flag("--subsample", args.jpegSubsampled, "JPEG colour at half resolution (4:2:0) instead of 4:4:4");
    command->add_option("--compression", args.tiffCompression, "TIFF compression")
        ->check(CLI::IsMember({"none", "deflate", "lzw"}))
        ->capture_default_str();
    command->add_option("--dpi", args.dpi, "resolution recorded in PNG, JPEG and TIFF files")
        ->check(CLI::Range(kMinImageDpi, kMaxImageDpi))
        ->capture_default_str();
}

ImageWriteOptions outputOptions(const std::string& fileName, const OutputArgs& args)
{
    ImageWriteOptions options;
    options.kind = imageFileKindFor(fileName).value_or(ImageFileKind::Bmp);
    options.jpegQuality = args.jpegQuality;
    options.jpegSubsampled = args.jpegSubsampled;
    options.tiffCompression = args.tiffCompression == "deflate" ? TiffCompression::Deflate
                              : args.tiffCompression == "lzw"   ? TiffCompression::Lzw
                                                                : TiffCompression::None;
    options.dpi = args.dpi;
    return options;
}

void checkOutputTarget(const std::string& fileName, const ImageWriteOptions& options, int64_t width, int64_t height)
{
    const std::string problem = imageLimitProblem(options.kind, width, height, fileName);
    if (!problem.empty())
        throw Error(problem);
    const size_t slash = fileName.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
    struct stat st {};
    // the program's own words for a file it cannot create, said before the work
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(folder.c_str(), W_OK | X_OK) != 0)
        throw EFCreateError(formatMessage(msg::kCannotCreate, fileName.c_str()));
}

}  // namespace tsx::cli
