#include "wizard/image_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "raster/byte_io.h"
#include "raster/errors.h"
#include "engine/render.h"
#include "wizard/kept_cells.h"
#include "wizard/signature_cache.h"

namespace tsx {

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

std::string lowerAscii(std::string s)
{
    for (char& c : s)
        c = lowerAscii(c);
    return s;
}

// The extensions of kImageFileMasks, each written "*.ext".
std::vector<std::string> maskExtensions()
{
    std::vector<std::string> out;
    const std::string masks = kImageFileMasks;
    size_t start = 0;
    while (start < masks.size()) {
        size_t end = masks.find(';', start);
        if (end == std::string::npos)
            end = masks.size();
        const std::string mask = masks.substr(start, end - start);
        if (mask.size() > 2 && mask.compare(0, 2, "*.") == 0)
            out.push_back(lowerAscii(mask.substr(1)));
        start = end + 1;
    }
    return out;
}

bool matchesMasks(const std::string& name, const std::vector<std::string>& extensions)
{
    const std::string lower = lowerAscii(name);
    for (const std::string& ext : extensions) {
        // "*.jpg" needs at least one character before the extension
        if (lower.size() > ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0)
            return true;
    }
    return false;
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

}  // namespace

std::vector<std::string> splitTextLines(std::span<const uint8_t> text)
{
    std::vector<std::string> lines;
    size_t end = 0;
    while (end < text.size() && text[end] != 0)
        ++end;
    size_t i = 0;
    while (i < end) {
        size_t j = i;
        while (j < end && text[j] != '\r' && text[j] != '\n')
            ++j;
        lines.emplace_back(reinterpret_cast<const char*>(text.data() + i), j - i);
        if (j < end && text[j] == '\r')
            ++j;
        else if (j < end && text[j] == '\n')
            ++j;
        else
            break;
        if (j < end && text[j - 1] == '\r' && text[j] == '\n')
            ++j;
        i = j;
    }
    return lines;
}

std::string joinTextLines(const std::vector<std::string>& lines)
{
    std::string out;
    size_t total = 0;
    for (const std::string& l : lines)
        total += l.size() + 2;
    out.reserve(total);
    for (const std::string& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

namespace {

void sortByName(std::vector<std::string>& names)
{
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = lowerAscii(a), lb = lowerAscii(b);
        return la != lb ? la < lb : a < b;
    });
}

// The image files of one folder (full paths, name order) and, when asked, the
// names of its visible sub-folders (name order). False when it cannot be read.
bool readFolder(const std::string& folder, std::vector<std::string>& files, std::vector<std::string>* subfolders)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    const std::vector<std::string> extensions = maskExtensions();
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        // names beginning with a dot are this platform's hidden files
        if (name.empty() || name[0] == '.')
            continue;
        const bool picture = matchesMasks(name, extensions);
        if (!picture && !subfolders)
            continue;
        struct stat st {};
        if (::stat(joinPath(folder, name).c_str(), &st) != 0)
            continue;
        if (picture && S_ISREG(st.st_mode))
            names.push_back(name);
        else if (subfolders && S_ISDIR(st.st_mode))
            subfolders->push_back(name);
    }
    ::closedir(dir);
    sortByName(names);
    for (std::string& n : names)
        files.push_back(joinPath(folder, n));
    if (subfolders)
        sortByName(*subfolders);
    return true;
}

struct FolderId {
    dev_t device;
    ino_t inode;
    bool operator<(const FolderId& o) const { return device != o.device ? device < o.device : inode < o.inode; }
};

void listTree(const std::string& folder, std::set<FolderId>& visited, std::vector<std::string>& files, int depth)
{
    struct stat st {};
    // a folder seen before is a link back into the tree: taking it again
    // would list its pictures twice or never end
    if (::stat(folder.c_str(), &st) != 0 || !visited.insert({st.st_dev, st.st_ino}).second)
        return;
    std::vector<std::string> subfolders;
    if (!readFolder(folder, files, &subfolders))
        return;
    // far deeper than any photo library; a bound against pathological trees
    constexpr int kDeepest = 64;
    if (depth >= kDeepest)
        return;
    for (const std::string& sub : subfolders)
        listTree(joinPath(folder, sub), visited, files, depth + 1);
}

}  // namespace

std::vector<std::string> listImageFiles(const std::string& folder)
{
    std::vector<std::string> files;
    if (!readFolder(folder, files, nullptr))
        throw EFOpenError(formatMessage(msg::kCannotOpen, folder.c_str()));
    return files;
}

std::vector<std::string> listImageFilesRecursive(const std::string& folder)
{
    std::vector<std::string> files;
    std::vector<std::string> subfolders;
    if (!readFolder(folder, files, &subfolders))
        throw EFOpenError(formatMessage(msg::kCannotOpen, folder.c_str()));
    std::set<FolderId> visited;
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0)
        visited.insert({st.st_dev, st.st_ino});
    for (const std::string& sub : subfolders)
        listTree(joinPath(folder, sub), visited, files, 1);
    return files;
}

namespace {
std::string withoutTrailingSlash(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}
}  // namespace

std::string sampleFolderPrompt(const std::string& executableFolder)
{
    return sampleFolderPromptFor(withoutTrailingSlash(executableFolder) + "/images");
}

std::string sampleFolderPromptFor(const std::string& sampleFolder)
{
    return "Select the directory where you save your image files\rour sample image:" + sampleFolder;
}

std::string findSampleFolder(const std::string& executableFolder, const std::string& installedFromExecutable)
{
    namespace fs = std::filesystem;
    const std::string folder = withoutTrailingSlash(executableFolder);
    const std::string beside = folder + "/images";
    std::error_code error;
    if (fs::is_directory(beside, error) || installedFromExecutable.empty())
        return beside;
    const std::string installed
        = withoutTrailingSlash((fs::path(folder) / installedFromExecutable).lexically_normal().string());
    return fs::is_directory(installed, error) ? installed : beside;
}

const std::string& ImageList::path(long long i) const
{
    if (i < 0 || size_t(i) >= m_paths.size())
        throw EListError(formatMessage(msg::kListIndex, int(i)));
    return m_paths[size_t(i)];
}

void ImageList::append(std::string path, const CellSignature& signature)
{
    m_paths.reserve(m_paths.size() + 1);
    m_signatures.reserve(m_signatures.size() + kSignatureBytes);
    // both reserved: neither push below can throw, so the two stay in step
    appendSignature(m_signatures, signature);
    m_paths.push_back(std::move(path));
}

long long ImageList::remove(long long k)
{
    if (k < 0 || size_t(k) >= m_paths.size())
        return -1;
    m_paths.erase(m_paths.begin() + k);
    const size_t at = size_t(k) * kSignatureBytes;
    if (at < m_signatures.size()) {
        const size_t end = std::min(m_signatures.size(), at + kSignatureBytes);
        m_signatures.erase(m_signatures.begin() + ptrdiff_t(at), m_signatures.begin() + ptrdiff_t(end));
    }
    if (m_paths.empty())
        return -1;
    return k > 0 ? k - 1 : 0;
}

void ImageList::clear()
{
    m_signatures.clear();
    m_paths.clear();
}

void ImageList::replaceAll(std::vector<std::string> paths, std::vector<uint8_t> signatures) noexcept
{
    m_paths = std::move(paths);
    m_signatures = std::move(signatures);
}

namespace {

// The side of the point sample a signature is the mean of.
constexpr int kSampleSide = 16;

// One file's outcome, written by a decoding thread and read in order by the
// committing thread.
struct DecodeSlot {
    enum class State { Pending, Done, Skipped, Failed } state = State::Pending;
    CellSignature signature;
    std::exception_ptr error;
    bool cached = false;
    // the picture in both fits of the kept cell size, when it was made
    TDIB stretched, cropped;
};

}  // namespace

FolderLoadResult ImageList::loadFolder(const std::string& folder, const FolderLoadOptions& options)
{
    return loadFiles(options.recursive ? listImageFilesRecursive(folder) : listImageFiles(folder), options);
}

FolderLoadResult ImageList::loadFiles(const std::vector<std::string>& files, const FolderLoadOptions& options)
{
    FolderLoadResult result;
    result.listed = files.size();
    if (files.empty())
        return result;

    unsigned threadCount = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    threadCount = unsigned(std::min<size_t>(threadCount, files.size()));

    // cell pictures are made only while the store can take them; the check
    // here is a hint, the store itself refuses what does not fit
    const bool keeping = options.keep && options.keep->wants();
    const int keepWidth = keeping ? options.keep->cellWidth() : 0;
    const int keepHeight = keeping ? options.keep->cellHeight() : 0;

    std::vector<DecodeSlot> slots(files.size());
    std::mutex mutex;
    std::condition_variable slotDone;
    std::atomic<size_t> nextFile{0};
    std::atomic<bool> stop{false};

    auto decodeLoop = [&] {
        TPicture picture;
        for (;;) {
            if (stop.load() || (options.cancel && options.cancel->load()))
                return;
            const size_t i = nextFile.fetch_add(1);
            if (i >= files.size())
                return;
            DecodeSlot slot;
            try {
                std::optional<SignatureCache::Key> key;
                std::optional<SignatureCache::Entry> known;
                if (options.cache && (key = SignatureCache::keyOf(files[i])))
                    known = options.cache->find(*key);
                if (known) {
                    slot.cached = true;
                    slot.signature = known->signature;
                    slot.state = known->hasPixels ? DecodeSlot::State::Done : DecodeSlot::State::Skipped;
                } else {
                    // the signature's 256 points alone, the same as from the
                    // whole picture
                    TDIB sample, covering;
                    if (LoadPictureSample(files[i], kSampleSide, kSampleSide, sample, keepWidth, keepHeight, covering)) {
                        picture.Bitmap().Dib() = sample;
                        slot.signature = computeSignature(picture);
                        slot.state = DecodeSlot::State::Done;
                        if (!covering.IsEmpty()) {
                            slot.stretched = scalePictureToCell(covering, keepWidth, keepHeight, true);
                            slot.cropped = scalePictureToCell(covering, keepWidth, keepHeight, false);
                        }
                    } else {
                        slot.state = DecodeSlot::State::Skipped;
                    }
                    if (key)
                        options.cache->store(*key, {slot.state == DecodeSlot::State::Done, slot.signature});
                }
            } catch (...) {
                slot.error = std::current_exception();
                slot.state = DecodeSlot::State::Failed;
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                slots[i] = std::move(slot);
            }
            slotDone.notify_all();
        }
    };

    // what was learnt is kept also when the load stops early; a cache that
    // cannot be written costs the next load time, never this one its result
    struct SaveCache {
        SignatureCache* cache;
        ~SaveCache()
        {
            if (!cache)
                return;
            try {
                cache->save();
            } catch (const std::exception&) {
            }
        }
    } saveCache{options.cache};

    std::vector<std::thread> workers;
    workers.reserve(threadCount);
    struct JoinAll {
        std::vector<std::thread>& threads;
        std::atomic<bool>& stopFlag;
        ~JoinAll()
        {
            stopFlag.store(true);
            for (std::thread& t : threads)
                t.join();
        }
    } joinAll{workers, stop};
    for (unsigned t = 0; t < threadCount; ++t)
        workers.emplace_back(decodeLoop);

    m_paths.reserve(m_paths.size() + files.size());
    m_signatures.reserve(m_signatures.size() + files.size() * kSignatureBytes);
    for (size_t i = 0; i < files.size(); ++i) {
        DecodeSlot slot;
        {
            std::unique_lock<std::mutex> lock(mutex);
            // waits with a timeout so a cancel request is seen even while a
            // slow file is still being decoded
            while (slots[i].state == DecodeSlot::State::Pending) {
                if (options.cancel && options.cancel->load())
                    break;
                slotDone.wait_for(lock, std::chrono::milliseconds(50));
            }
            slot = std::move(slots[i]);
        }
        if (options.cancel && options.cancel->load()) {
            result.cancelled = true;
            break;
        }
        if (slot.state == DecodeSlot::State::Failed && options.skipBad) {
            std::string message = "unknown error";
            try {
                std::rethrow_exception(slot.error);
            } catch (const std::exception& e) {
                message = e.what();
            } catch (...) {
            }
            options.skipBad->push_back({files[i], std::move(message)});
            ++result.failed;
        } else if (slot.state == DecodeSlot::State::Failed) {
            stop.store(true);
            if (options.stoppedAt)
                *options.stoppedAt = files[i];
            std::rethrow_exception(slot.error);
        } else if (slot.state == DecodeSlot::State::Done) {
            result.cached += slot.cached ? 1 : 0;
            append(files[i], slot.signature);
            ++result.added;
            if (!slot.stretched.IsEmpty())
                options.keep->keep(files[i], slot.stretched, slot.cropped);
        } else {
            result.cached += slot.cached ? 1 : 0;
            ++result.skipped;
        }
        if (options.progress)
            options.progress(i + 1, files.size());
    }
    return result;
}

std::vector<uint8_t> ImageList::toImlBytes() const
{
    const std::string text = joinTextLines(m_paths);
    if (text.size() > size_t(INT32_MAX))
        throw EWriteError(msg::kStreamWrite);
    std::vector<uint8_t> out;
    out.reserve(4 + text.size() + m_signatures.size());
    ByteWriter w(out);
    w.i32le(int32_t(text.size()));
    w.bytes(text.data(), text.size());
    w.bytes(m_signatures.data(), m_signatures.size());
    return out;
}

void ImageList::loadImlBytes(std::span<const uint8_t> bytes)
{
    ByteReader r(bytes);
    const int32_t length = r.i32le();
    if (length < 0)
        throw EReadError(msg::kStreamRead);
    std::vector<std::string> paths = splitTextLines(r.take(size_t(length)));
    const std::span<const uint8_t> rest = r.rest();
    std::vector<uint8_t> signatures(rest.begin(), rest.end());
    replaceAll(std::move(paths), std::move(signatures));
}

void ImageList::saveIml(const std::string& fileName) const { writeWholeFile(fileName, toImlBytes()); }

void ImageList::loadIml(const std::string& fileName) { loadImlBytes(readWholeFile(fileName)); }

std::string ImageList::countLabel() const { return "File Count In Image List : " + std::to_string(count()); }

std::string ImageList::statusText() const { return "Files In ImageList : " + std::to_string(count()); }

}  // namespace tsx
