// The ImageList: the paths of the pictures that fill the cells, kept in step
// with their 8-byte signatures in a signature buffer (entry k at byte 8k),
// the folder load that fills it, and its .iml file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/mosaic_job.h"

namespace tsx {

/// The file masks of the folder load, in the order they are listed: the
/// classic formats, then those of today's cameras and phones.
inline constexpr const char* kImageFileMasks =
    "*.dib;*.gif;*.pcx;*.pic;*.tga;*.tif;*.tiff;*.jpg;*.jpeg;*.bmp;*.png;*.webp;*.heic;*.heif;*.avif;";

/// Lines of a text block: a line ends at CR LF, a lone CR or a lone LF; the
/// text ends at its end or at its first zero byte; a last line without an
/// ending is a line, an ending after the last line adds no empty one.
std::vector<std::string> splitTextLines(std::span<const uint8_t> text);
/// Every line followed by CR LF.
std::string joinTextLines(const std::vector<std::string>& lines);

/// Image files of a folder that match kImageFileMasks (letter case ignored),
/// without hidden files, sub-folders or anything that is not a regular file,
/// sorted by name without regard to letter case. Full paths.
std::vector<std::string> listImageFiles(const std::string& folder);
/// listImageFiles of the folder, then of each of its sub-folders in the same
/// name order, depth first. Hidden folders, folders that cannot be read and
/// any folder already visited (a symbolic link that loops back) are left
/// out; only the top folder raises when it cannot be opened.
std::vector<std::string> listImageFilesRecursive(const std::string& folder);

/// A file that a folder load went past instead of stopping at.
struct SkippedPicture {
    std::string path;
    std::string message;
};

/// The folder browser's prompt that points at the sample pictures.
std::string sampleFolderPrompt(const std::string& executableFolder);
/// The same prompt for sample pictures in a folder of their own.
std::string sampleFolderPromptFor(const std::string& sampleFolder);

/// Where the sample pictures are: "images" beside the executable, as a build
/// leaves them, else the installed folder, given relative to the
/// executable's; when neither is there, the one beside the executable.
std::string findSampleFolder(const std::string& executableFolder, const std::string& installedFromExecutable);

/// Progress and cancellation of a folder load.
class SignatureCache;
class KeptCellPictures;

struct FolderLoadOptions {
    /// Called on the loading thread after each file is committed (or skipped).
    std::function<void(size_t done, size_t total)> progress;
    /// When it becomes true, the load stops after the entries committed so far.
    const std::atomic<bool>* cancel = nullptr;
    /// Decoding threads; 0 means one per core.
    unsigned threads = 0;
    /// Also takes the pictures of every sub-folder (listImageFilesRecursive).
    bool recursive = false;
    /// When set, a file that cannot be loaded is recorded here and the load
    /// goes on, instead of stopping at it with its error.
    std::vector<SkippedPicture>* skipBad = nullptr;
    /// When set, pictures it knows unchanged are not decoded again, and what
    /// is decoded is added to it; it is saved when the load ends.
    SignatureCache* cache = nullptr;
    /// When set and it has room, each picture decoded is also scaled to its
    /// cell size and kept there, where the decoding gave the picture a
    /// render would draw from (a JPEG's 1/8 scale, any other format whole).
    KeptCellPictures* keep = nullptr;
    /// When set, receives the path of the file whose error stopped the load.
    std::string* stoppedAt = nullptr;
};

struct FolderLoadResult {
    size_t listed = 0;   // files that matched the masks
    size_t added = 0;    // entries appended
    size_t skipped = 0;  // pictures 0 pixels wide
    size_t failed = 0;   // files that could not be loaded, gone past with skipBad
    size_t cached = 0;   // entries (added or skipped) that the cache knew
    bool cancelled = false;
};

/// The ImageList. Not thread-safe: the user's thread changes it, and a render
/// must not run while it does.
class ImageList {
public:
    /// Keeps the signature buffer by reference; it must outlive the list.
    explicit ImageList(std::vector<uint8_t>& signatureStream) : m_signatures(signatureStream) {}

    size_t count() const { return m_paths.size(); }
    bool empty() const { return m_paths.empty(); }
    const std::vector<std::string>& paths() const { return m_paths; }
    /// Path of entry i; "List index out of bounds (%d)" when there is none.
    const std::string& path(long long i) const;
    std::vector<uint8_t>& signatureStream() { return m_signatures; }
    const std::vector<uint8_t>& signatureStream() const { return m_signatures; }

    void append(std::string path, const CellSignature& signature);
    /// Removes entry k from both sequences. Returns the line to select next
    /// (k - 1, or 0 when k was 0), or -1 when the list is now empty or k
    /// named no entry (then nothing changed).
    long long remove(long long k);
    void clear();
    /// Replaces the paths only (a project load); the signatures stay.
    void replacePaths(std::vector<std::string> paths) noexcept { m_paths = std::move(paths); }
    /// Replaces both sequences as they are, without checking that they agree.
    void replaceAll(std::vector<std::string> paths, std::vector<uint8_t> signatures) noexcept;

    /// Appends every image file of the folder, in listImageFiles order.
    /// Files are decoded on several threads and committed in order; a
    /// picture 0 pixels wide is skipped. When a file cannot be loaded, the
    /// entries before it stay, nothing after it is added, and its error is
    /// raised. Cancelling keeps the entries committed so far.
    FolderLoadResult loadFolder(const std::string& folder, const FolderLoadOptions& options = {});
    /// The same for the given files, in their order.
    FolderLoadResult loadFiles(const std::vector<std::string>& files, const FolderLoadOptions& options = {});

    /// The .iml form: text length, the lines with CR LF, the signatures.
    std::vector<uint8_t> toImlBytes() const;
    /// Replaces the list by an .iml image; "Stream read error" and nothing
    /// changed when its length field is negative or runs past the end.
    void loadImlBytes(std::span<const uint8_t> bytes);
    void saveIml(const std::string& fileName) const;
    void loadIml(const std::string& fileName);

    /// "File Count In Image List : n" and "Files In ImageList : n".
    std::string countLabel() const;
    std::string statusText() const;

private:
    std::vector<std::string> m_paths;
    std::vector<uint8_t>& m_signatures;
};

}  // namespace tsx
