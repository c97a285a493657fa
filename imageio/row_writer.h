// Writing a 24-bit picture to a file row by row, from the top down, so a
// mosaic need never be whole in memory to be saved: BMP puts each row at its
// bottom-up place, PNG, JPEG and TIFF feed their libraries' row interfaces.
// Every file goes through a temporary name and a rename; a writer dropped
// before finish() removes its temporary file and leaves the target alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "raster/dib.h"

namespace tsx {

enum class ImageFileKind { Bmp, Png, Jpeg, Tiff };
enum class TiffCompression { None, Deflate, Lzw };

struct ImageWriteOptions {
    ImageFileKind kind = ImageFileKind::Bmp;
    int jpegQuality = 92;           // 1..100
    bool jpegSubsampled = false;    // false: every pixel keeps its own colour (4:4:4); true: 4:2:0
    TiffCompression tiffCompression = TiffCompression::None;
    int dpi = 0;                    // pixels per inch recorded in PNG, JPEG and TIFF; 0: none
};

inline constexpr int kJpegMaxSide = 65535;

/// The kind a file name asks for by its extension (bmp, dib, png, jpg, jpeg,
/// jpe, tif, tiff, in any case); nothing for any other.
std::optional<ImageFileKind> imageFileKindFor(const std::string& fileName);

/// Why a width × height picture cannot be written as this kind, naming the
/// file; empty when it can. Checked before any work is done.
std::string imageLimitProblem(ImageFileKind kind, int64_t width, int64_t height, const std::string& fileName);

class RowWriter {
public:
    virtual ~RowWriter() = default;
    /// Rows y .. y + count - 1 of the picture, the next ones from the top:
    /// 24-bit blue, green, red, `stride` bytes apart (negative
    /// for a raster, whose rows are stored bottom-up). Throws on a write error.
    virtual void writeRows(const uint8_t* rows, ptrdiff_t stride, int count) = 0;
    /// After the last row: completes the file and renames it over the target.
    virtual void finish() = 0;
    int rowsWritten() const { return m_rows; }

protected:
    int m_rows = 0;
};

/// A writer for a width × height picture at fileName. Throws
/// "Cannot create file %s" when the file cannot be started, and the limit
/// problem when the picture is too large for the kind.
std::unique_ptr<RowWriter> openRowWriter(const std::string& fileName, int width, int height,
                                         const ImageWriteOptions& options);

/// Writes the whole raster; a BMP is byte for byte what WriteBmp writes
/// (an empty raster gives an empty file). Progress (0..100) is told between bands
/// of rows and may return false to stop, which removes the temporary file and
/// throws nothing.
bool writeImageFile(const TDIB& dib, const std::string& fileName, const ImageWriteOptions& options,
                    const std::function<bool(int)>& progress = {});

}  // namespace tsx
