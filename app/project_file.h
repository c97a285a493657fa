// The project file: settings block, ImageList paths, the working signatures
// with their use counts, and the whole placement table. No pixels: loading a
// project renders the stored placement again.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/cell_edit.h"
#include "engine/mosaic_job.h"
#include "wizard/image_list.h"

namespace tsx {

/// Size of a project file without its two variable blocks.
inline constexpr size_t kProjectFixedBytes = kSettingsBytes + kPlacementGridBytes;

/// What a project file holds, parsed and checked but not yet in the job.
struct ProjectContents {
    MosaicSettings settings;
    std::vector<std::string> paths;
    std::vector<uint8_t> workingSignatures;
    std::unique_ptr<PlacementGrid> placementGrid;
    /// Locks and exclusions of an edited mosaic, from the block after the
    /// placement table; empty when the file has none or a damaged one.
    CellMarks marks;
};

/// The block after the placement table that keeps an edited mosaic's locks
/// and exclusions: a tag, the length of what follows, the counts and
/// entries, and a CRC-32 of them.
std::vector<uint8_t> cellMarksBlock(const CellMarks& marks);
/// The marks of a block that fills `bytes` exactly, fits the job (cells
/// inside its grid, pictures inside its ImageList) and passes its check;
/// otherwise none.
CellMarks readCellMarksBlock(std::span<const uint8_t> bytes, const MosaicSettings& settings, size_t pathCount);

/// Sets savedSignatureBytes and savedFileListBytes in the job (they stay set
/// even when nothing is written afterwards) and returns the file image,
/// followed by the marks' block when there are marks.
std::vector<uint8_t> buildProjectImage(MosaicJob& job, const ImageList& list, const CellMarks& marks = {});

/// Writes a file image through a temporary file and a rename.
void writeProjectImage(const std::string& fileName, const std::vector<uint8_t>& image);

/// buildProjectImage then writeProjectImage.
void saveProject(const std::string& fileName, MosaicJob& job, const ImageList& list, const CellMarks& marks = {});

/// How large a project's mosaic may be: the window holds the whole raster
/// and keeps the 1200 MB ceiling; a render streamed to a file needs no ceiling.
enum class ProjectSizeLimit { Window, Streamed };

/// Parses a file image. A file whose lengths are negative or run past its
/// end, that is too short for its blocks, or whose grid, cell sizes, source
/// offsets or cell offsets lie outside what the program can render raises
/// EInvalidProject.
ProjectContents parseProject(std::span<const uint8_t> bytes, ProjectSizeLimit limit = ProjectSizeLimit::Window);

/// Replaces the settings, the ImageList's paths, workingSignatures and the
/// placement table. Cannot fail; the signature stream is not touched.
void commitProject(ProjectContents&& contents, MosaicJob& job, ImageList& list) noexcept;

/// Reads, parses and commits: on any failure nothing has changed.
void loadProject(const std::string& fileName, MosaicJob& job, ImageList& list,
                 ProjectSizeLimit limit = ProjectSizeLimit::Window);

/// Gives mosaicImage mosaicWidth × mosaicHeight pixels at 24 bits for a
/// loaded job, keeping its pixels when it has that size already.
void sizeMosaicForProject(MosaicJob& job);

}  // namespace tsx
