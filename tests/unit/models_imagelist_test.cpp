#include "wizard/image_list.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "raster/byte_io.h"
#include "raster/errors.h"
#include "wizard/signature_cache.h"

namespace tsx {
namespace {

namespace fs = std::filesystem;

std::span<const uint8_t> bytesOf(const std::string& s)
{
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

CellSignature sig(uint8_t r, uint8_t g, uint8_t b, int32_t uses = 0) { return CellSignature{r, g, b, 0, uses}; }

// A 24-bit bottom-up BMP of one colour.
std::vector<uint8_t> solidBmp(int width, int height, uint8_t r, uint8_t g, uint8_t b)
{
    const int rowBytes = (width * 3 + 3) & ~3;
    std::vector<uint8_t> out;
    ByteWriter w(out);
    w.u8('B');
    w.u8('M');
    w.u32le(uint32_t(54 + rowBytes * height));
    w.u32le(0);
    w.u32le(54);
    w.u32le(40);
    w.i32le(width);
    w.i32le(height);
    w.u16le(1);
    w.u16le(24);
    w.u32le(0);
    w.u32le(uint32_t(rowBytes * height));
    w.i32le(2835);
    w.i32le(2835);
    w.u32le(0);
    w.u32le(0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            w.u8(b);
            w.u8(g);
            w.u8(r);
        }
        w.zeros(size_t(rowBytes - width * 3));
    }
    return out;
}

class TempFolder {
public:
    TempFolder()
    {
        m_path = fs::temp_directory_path() / ("tsx-imagelist-" + std::to_string(::getpid()) + "-" +
                                              std::to_string(s_counter++));
        fs::create_directories(m_path);
    }
    ~TempFolder() { fs::remove_all(m_path); }
    std::string path() const { return m_path.string(); }
    std::string file(const std::string& name) const { return (m_path / name).string(); }
    void write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        std::ofstream(m_path / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                            std::streamsize(bytes.size()));
    }

private:
    fs::path m_path;
    static inline int s_counter = 0;
};

TEST(ImageListFile, RoundTripIsByteExact)
{
    std::vector<uint8_t> stream;
    ImageList list(stream);
    list.append("C:\\a\\b.jpg", sig(1, 2, 3, 7));
    list.append("/pics/x y.bmp", sig(200, 100, 50, -1));
    const std::vector<uint8_t> bytes = list.toImlBytes();
    // L, the text with CR LF, the signature records as held
    ASSERT_EQ(bytes.size(), 4 + 12 + 15 + 16);
    EXPECT_EQ(bytes[0], 27);
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 31), "C:\\a\\b.jpg\r\n/pics/x y.bmp\r\n");
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), bytes.begin() + 31));

    std::vector<uint8_t> otherStream{9, 9, 9};
    ImageList other(otherStream);
    other.append("old", sig(0, 0, 0));
    other.loadImlBytes(bytes);
    EXPECT_EQ(other.paths(), list.paths());
    EXPECT_EQ(otherStream, stream);
    EXPECT_EQ(other.toImlBytes(), bytes);
}

TEST(ImageListFile, TwoPathsOfTenAndTwelveCharacters)
{
    std::vector<uint8_t> stream;
    ImageList list(stream);
    list.append("0123456789", sig(1, 1, 1));
    list.append("0123456789ab", sig(2, 2, 2));
    const std::vector<uint8_t> bytes = list.toImlBytes();
    EXPECT_EQ(bytes.size(), 46u);
    EXPECT_EQ(ByteReader(bytes).i32le(), 26);
}

TEST(ImageListFile, EmptyListIsFourZeroBytes)
{
    std::vector<uint8_t> stream;
    ImageList list(stream);
    EXPECT_EQ(list.toImlBytes(), std::vector<uint8_t>(4, 0));

    std::vector<uint8_t> s2;
    ImageList loaded(s2);
    loaded.append("x", sig(1, 1, 1));
    loaded.loadImlBytes(std::vector<uint8_t>(4, 0));
    EXPECT_TRUE(loaded.empty());
    EXPECT_TRUE(s2.empty());
}

TEST(ImageListFile, TextSplitsAtEveryLineEnding)
{
    const auto lines = [](const std::string& s) { return splitTextLines(bytesOf(s)); };
    EXPECT_EQ(lines("a\r\nb"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(lines("a\rb\nc\r\n"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(lines("a\n\rb"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(lines("a\r\n\r\nb"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(lines(std::string("a\r\nb\0c\r\n", 8)), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(lines(""), std::vector<std::string>{});
    EXPECT_EQ(lines("\r\n"), std::vector<std::string>{""});
}

TEST(ImageListFile, LengthFieldThatDoesNotFitChangesNothing)
{
    std::vector<uint8_t> stream;
    ImageList list(stream);
    list.append("keep.jpg", sig(5, 6, 7));
    const std::vector<uint8_t> before = list.toImlBytes();

    const auto withLength = [](int32_t length, size_t fileBytes) {
        std::vector<uint8_t> b;
        ByteWriter(b).i32le(length);
        b.resize(fileBytes, 'x');
        return b;
    };
    for (const std::vector<uint8_t>& bad :
         {withLength(-1, 20), withLength(INT32_MIN, 4), withLength(17, 20), withLength(INT32_MAX, 20),
          std::vector<uint8_t>{1, 0}}) {
        try {
            list.loadImlBytes(bad);
            FAIL() << "a length field past the end was accepted";
        } catch (const EReadError& e) {
            EXPECT_STREQ(e.what(), "Stream read error");
        }
        EXPECT_EQ(list.toImlBytes(), before);
    }
    // exactly to the end is fine: no signatures
    list.loadImlBytes(withLength(16, 20));
    EXPECT_EQ(list.count(), 1u);
    EXPECT_TRUE(stream.empty());
}

TEST(ImageListFile, CountsOfLinesAndSignaturesNeedNotAgree)
{
    std::vector<uint8_t> stream;
    ImageList list(stream);
    std::vector<uint8_t> bytes;
    ByteWriter w(bytes);
    w.i32le(3);
    w.bytes("a\r\n", 3);
    w.zeros(19);
    list.loadImlBytes(bytes);
    EXPECT_EQ(list.count(), 1u);
    EXPECT_EQ(stream.size(), 19u);
}

TEST(ImageListFile, SaveAndLoadThroughAFile)
{
    TempFolder dir;
    std::vector<uint8_t> stream;
    ImageList list(stream);
    list.append("a.jpg", sig(1, 2, 3));
    list.saveIml(dir.file("list.iml"));
    EXPECT_EQ(readWholeFile(dir.file("list.iml")), list.toImlBytes());

    std::vector<uint8_t> s2;
    ImageList loaded(s2);
    loaded.loadIml(dir.file("list.iml"));
    EXPECT_EQ(loaded.paths(), list.paths());
    EXPECT_THROW(loaded.loadIml(dir.file("missing.iml")), EFOpenError);
    EXPECT_EQ(loaded.count(), 1u);
}

TEST(ImageListEditing, DeleteKeepsPathsAndSignaturesInStep)
{
    std::vector<uint8_t> stream;
    ImageList list(stream);
    for (uint8_t i = 0; i < 3; ++i)
        list.append("p" + std::to_string(i), sig(i, i, i));

    EXPECT_EQ(list.remove(2), 1);  // the last: selection moves to the new last
    EXPECT_EQ(list.paths(), (std::vector<std::string>{"p0", "p1"}));
    EXPECT_EQ(stream.size(), 16u);

    list.append("p2", sig(2, 2, 2));
    EXPECT_EQ(list.remove(0), 0);  // the first: line 0 stays selected
    EXPECT_EQ(list.paths(), (std::vector<std::string>{"p1", "p2"}));
    EXPECT_EQ(signatureAt(stream, 0), sig(1, 1, 1));
    EXPECT_EQ(signatureAt(stream, 1), sig(2, 2, 2));

    EXPECT_EQ(list.remove(5), -1);  // no such line: nothing happens
    EXPECT_EQ(list.remove(-1), -1);
    EXPECT_EQ(list.count(), 2u);
    list.remove(0);
    EXPECT_EQ(list.remove(0), -1);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(stream.empty());
}

TEST(ImageListEditing, DeleteAfterALoadWithFewerSignaturesStaysInBounds)
{
    std::vector<uint8_t> stream;
    ImageList list(stream);
    list.replaceAll({"a", "b", "c"}, std::vector<uint8_t>(12, 1));
    list.remove(2);
    EXPECT_EQ(stream.size(), 12u);
    list.remove(1);
    EXPECT_EQ(stream.size(), 8u);
}

TEST(ImageListEditing, ClearEmptiesBothAndLabelsFollow)
{
    std::vector<uint8_t> stream;
    ImageList list(stream);
    list.append("a", sig(1, 1, 1));
    list.append("b", sig(1, 1, 1));
    EXPECT_EQ(list.countLabel(), "File Count In Image List : 2");
    EXPECT_EQ(list.statusText(), "Files In ImageList : 2");
    list.clear();
    EXPECT_TRUE(stream.empty());
    EXPECT_EQ(list.countLabel(), "File Count In Image List : 0");
    EXPECT_THROW(list.path(0), EListError);
}

TEST(ImageListFolder, ListsMaskedFilesSortedWithoutHiddenOnes)
{
    TempFolder dir;
    const auto bmp = solidBmp(2, 2, 1, 2, 3);
    for (const char* name : {"c.JPG", "b.bmp", "A.tiff", ".hidden.bmp", "notes.txt", "x.jpgx", "d.Jpeg", ".bmp"})
        dir.write(name, bmp);
    fs::create_directory(dir.file("e.bmp"));
    const std::vector<std::string> expected{dir.file("A.tiff"), dir.file("b.bmp"), dir.file("c.JPG"),
                                            dir.file("d.Jpeg")};
    EXPECT_EQ(listImageFiles(dir.path()), expected);
    EXPECT_EQ(listImageFiles(dir.path() + "/"), expected);
    EXPECT_THROW(listImageFiles(dir.file("none")), EFOpenError);
}

TEST(ImageListFolder, PromptPointsAtTheSamplePictures)
{
    EXPECT_EQ(sampleFolderPrompt("/opt/tsx/"),
              "Select the directory where you save your image files\rour sample image:/opt/tsx/images");
}

TEST(ImageListFolder, SamplesBesideABuildComeBeforeTheInstalledOnes)
{
    TempFolder prefix;
    fs::create_directories(prefix.file("bin"));
    const std::string bin = prefix.file("bin");
    // nothing there yet: the prompt still names the folder beside the program
    EXPECT_EQ(findSampleFolder(bin + "/", "../share/tesserix/images"), bin + "/images");
    fs::create_directories(prefix.file("share/tesserix/images"));
    EXPECT_EQ(findSampleFolder(bin, "../share/tesserix/images"), prefix.file("share/tesserix/images"));
    fs::create_directories(prefix.file("bin/images"));
    EXPECT_EQ(findSampleFolder(bin, "../share/tesserix/images"), bin + "/images");
    EXPECT_EQ(sampleFolderPromptFor("/usr/share/tesserix/images"),
              "Select the directory where you save your image files\rour sample image:/usr/share/tesserix/images");
}

class FolderLoad : public ::testing::TestWithParam<unsigned> {};

TEST_P(FolderLoad, AppendsInNameOrderWithMatchingSignatures)
{
    TempFolder dir;
    for (int i = 0; i < 12; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%c%02d.bmp", i % 2 ? 'P' : 'p', i);
        dir.write(name, solidBmp(3 + i, 2 + i % 3, uint8_t(i * 20), uint8_t(255 - i * 20), uint8_t(i)));
    }
    std::vector<uint8_t> stream;
    ImageList list(stream);
    list.append("already-there", sig(9, 9, 9));
    size_t calls = 0;
    FolderLoadOptions options;
    options.threads = GetParam();
    options.progress = [&](size_t done, size_t total) {
        ++calls;
        EXPECT_EQ(done, calls);
        EXPECT_EQ(total, 12u);
    };
    const FolderLoadResult result = list.loadFolder(dir.path(), options);
    EXPECT_EQ(result.added, 12u);
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(calls, 12u);
    ASSERT_EQ(list.count(), 13u);
    ASSERT_EQ(stream.size(), 13 * 8u);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(fs::path(list.path(i + 1)).filename().string().substr(1, 2), (i < 10 ? "0" : "") + std::to_string(i));
        const CellSignature s = signatureAt(stream, size_t(i + 1));
        EXPECT_EQ(s.red, i * 20);
        EXPECT_EQ(s.green, 255 - i * 20);
        EXPECT_EQ(s.blue, i);
    }
    // a second load doubles every entry
    calls = 0;
    list.loadFolder(dir.path(), options);
    EXPECT_EQ(list.count(), 25u);
    EXPECT_EQ(list.path(13), list.path(1));
    EXPECT_EQ(signatureAt(stream, 24), signatureAt(stream, 12));
}

TEST_P(FolderLoad, StopsAtTheFirstBadFileKeepingThoseBefore)
{
    TempFolder dir;
    dir.write("a.bmp", solidBmp(4, 4, 10, 20, 30));
    dir.write("b.bmp", solidBmp(4, 4, 40, 50, 60));
    dir.write("c.jpg", {0xFF, 0xD8, 0xFF, 0x00, 0x12});
    for (const char* name : {"d.bmp", "e.bmp", "f.bmp", "g.bmp"})
        dir.write(name, solidBmp(4, 4, 1, 1, 1));
    std::vector<uint8_t> stream;
    ImageList list(stream);
    FolderLoadOptions options;
    options.threads = GetParam();
    EXPECT_THROW(list.loadFolder(dir.path(), options), Error);
    EXPECT_EQ(list.paths(), (std::vector<std::string>{dir.file("a.bmp"), dir.file("b.bmp")}));
    ASSERT_EQ(stream.size(), 16u);
    EXPECT_EQ(signatureAt(stream, 1), sig(40, 50, 60));
}

TEST_P(FolderLoad, CancelKeepsWhatWasAddedInStep)
{
    TempFolder dir;
    for (int i = 0; i < 8; ++i)
        dir.write("f" + std::to_string(i) + ".bmp", solidBmp(8, 8, uint8_t(i), 0, 0));
    std::vector<uint8_t> stream;
    ImageList list(stream);
    std::atomic<bool> cancel{false};
    FolderLoadOptions options;
    options.threads = GetParam();
    options.cancel = &cancel;
    options.progress = [&](size_t done, size_t) {
        if (done == 3)
            cancel = true;
    };
    const FolderLoadResult result = list.loadFolder(dir.path(), options);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.added, 3u);
    EXPECT_EQ(list.count(), 3u);
    EXPECT_EQ(stream.size(), 24u);
    EXPECT_EQ(signatureAt(stream, 2).red, 2);
}

INSTANTIATE_TEST_SUITE_P(Threads, FolderLoad, ::testing::Values(1u, 4u));

TEST(ImageListFolder, EmptyFolderAddsNothing)
{
    TempFolder dir;
    std::vector<uint8_t> stream;
    ImageList list(stream);
    const FolderLoadResult r = list.loadFolder(dir.path());
    EXPECT_EQ(r.listed, 0u);
    EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace tsx

namespace tsx {
namespace {

TEST(ImageListFolder, SubfoldersFolderByFolderWithoutHiddenOnesOrLoops)
{
    TempFolder dir;
    const auto bmp = solidBmp(2, 2, 1, 2, 3);
    fs::create_directories(dir.file("2024/02"));
    fs::create_directories(dir.file("2024/10"));
    fs::create_directories(dir.file("Archive"));
    fs::create_directories(dir.file(".thumbnails"));
    for (const char* name : {"z.png", "a.webp", "2024/y.heic", "2024/02/b.jpg", "2024/10/a.avif", "Archive/c.bmp",
                             ".thumbnails/t.bmp", "2024/02/.hidden.bmp"})
        dir.write(name, bmp);
    // links back up the tree and to itself are taken once at most
    fs::create_directory_symlink(dir.path(), dir.file("2024/10/loop"));
    fs::create_directory_symlink("2024", dir.file("again"));
    fs::create_directory_symlink(dir.file("missing"), dir.file("dangling"));
    const std::vector<std::string> expected{
        dir.file("a.webp"),         dir.file("z.png"),          dir.file("2024/y.heic"),
        dir.file("2024/02/b.jpg"), dir.file("2024/10/a.avif"), dir.file("Archive/c.bmp")};
    EXPECT_EQ(listImageFilesRecursive(dir.path()), expected);
    // off, the chosen folder alone
    EXPECT_EQ(listImageFiles(dir.path()), (std::vector<std::string>{dir.file("a.webp"), dir.file("z.png")}));
    EXPECT_THROW(listImageFilesRecursive(dir.file("none")), EFOpenError);
}

TEST(ImageListFolder, SkipBadGoesPastDamagedFilesAndNamesThem)
{
    TempFolder dir;
    fs::create_directories(dir.file("sub"));
    dir.write("a.bmp", solidBmp(4, 4, 10, 20, 30));
    dir.write("b.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
    dir.write("sub/c.bmp", solidBmp(4, 4, 40, 50, 60));
    dir.write("sub/d.jpg", {0xFF, 0xD8, 0xFF, 0x00, 0x12});
    dir.write("sub/e.bmp", solidBmp(4, 4, 70, 80, 90));
    std::vector<uint8_t> stream;
    ImageList list(stream);
    std::vector<SkippedPicture> skipped;
    FolderLoadOptions options;
    options.recursive = true;
    options.skipBad = &skipped;
    options.threads = 2;
    const FolderLoadResult result = list.loadFolder(dir.path(), options);
    EXPECT_EQ(result.added, 3u);
    EXPECT_EQ(result.failed, 2u);
    EXPECT_EQ(list.paths(), (std::vector<std::string>{dir.file("a.bmp"), dir.file("sub/c.bmp"), dir.file("sub/e.bmp")}));
    EXPECT_EQ(signatureAt(stream, 2), sig(70, 80, 90));
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(skipped[0].path, dir.file("b.png"));
    EXPECT_EQ(skipped[0].message.rfind("PNG: ", 0), 0u) << skipped[0].message;
    EXPECT_EQ(skipped[1].path, dir.file("sub/d.jpg"));
    EXPECT_EQ(skipped[1].message.rfind("JPEG error #", 0), 0u) << skipped[1].message;
}

}  // namespace
}  // namespace tsx

namespace tsx {
namespace {

// Gives a file the modification time it had, so that only its bytes differ.
void keepModified(const std::string& path, const struct stat& before)
{
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(SignatureCacheFile, ASecondLoadDecodesNothingAndAChangedFileIsDecodedAgain)
{
    TempFolder dir;
    dir.write("a.bmp", solidBmp(4, 4, 10, 20, 30));
    dir.write("b.bmp", solidBmp(4, 4, 40, 50, 60));
    dir.write("empty.bmp", {});
    const std::string file = dir.file("cache/tesserix/signatures");
    std::vector<uint8_t> firstStream, secondStream;
    ImageList first(firstStream), second(secondStream);
    {
        SignatureCache cache(file);
        cache.readFile();
        FolderLoadOptions options;
        options.cache = &cache;
        EXPECT_EQ(first.loadFolder(dir.path(), options).cached, 0u);
    }
    ASSERT_TRUE(fs::exists(file));

    // same size, same time, other pixels: the cache answers, nothing is decoded
    struct stat before {};
    ASSERT_EQ(::stat(dir.file("a.bmp").c_str(), &before), 0);
    dir.write("a.bmp", solidBmp(4, 4, 99, 99, 99));
    keepModified(dir.file("a.bmp"), before);
    // a new size is a new picture
    dir.write("b.bmp", solidBmp(5, 4, 70, 80, 90));
    SignatureCache cache(file);
    cache.readFile();
    EXPECT_EQ(cache.size(), 3u);
    FolderLoadOptions options;
    options.cache = &cache;
    const FolderLoadResult result = second.loadFolder(dir.path(), options);
    EXPECT_EQ(result.cached, 2u);  // a.bmp and the empty picture
    EXPECT_EQ(result.skipped, 1u);
    EXPECT_EQ(second.paths(), first.paths());
    EXPECT_EQ(signatureAt(secondStream, 0), sig(10, 20, 30));
    EXPECT_EQ(signatureAt(secondStream, 1), sig(70, 80, 90));
    // and the folder's signatures equal those of a load without the cache
    EXPECT_EQ(signatureAt(firstStream, 0), sig(10, 20, 30));
}

TEST(SignatureCacheFile, DamagedOrForeignFilesGiveAnEmptyCache)
{
    TempFolder dir;
    SignatureCache made(dir.file("good"));
    made.store({"/p/one.jpg", 1234, 5678}, {true, sig(1, 2, 3)});
    made.store({"/p/two.png", 99, -1}, {false, {}});
    made.save();
    const std::vector<uint8_t> good = readWholeFile(dir.file("good"));
    const auto parsed = SignatureCache::parse(good);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->size(), 2u);

    std::vector<std::vector<uint8_t>> bad = {{}, {'T', 'S', 'X'}, std::vector<uint8_t>(good.begin(), good.end() - 1)};
    std::vector<uint8_t> foreign = good;
    foreign[7] = '9';  // another version
    std::vector<uint8_t> hugeCount = good;
    hugeCount[8] = hugeCount[9] = hugeCount[10] = hugeCount[11] = 0xFF;
    std::vector<uint8_t> trailing = good;
    trailing.push_back(0);
    bad.insert(bad.end(), {foreign, hugeCount, trailing});
    for (size_t i = 0; i < bad.size(); ++i) {
        EXPECT_FALSE(SignatureCache::parse(bad[i])) << i;
        dir.write("bad", bad[i]);
        SignatureCache cache(dir.file("bad"));
        cache.readFile();
        EXPECT_EQ(cache.size(), 0u) << i;
    }
    SignatureCache missing(dir.file("none"));
    missing.readFile();
    EXPECT_EQ(missing.size(), 0u);
    SignatureCache reread(dir.file("good"));
    reread.readFile();
    const auto hit = reread.find({"/p/one.jpg", 1234, 5678});
    ASSERT_TRUE(hit);
    EXPECT_TRUE(hit->hasPixels);
    EXPECT_EQ(hit->signature, sig(1, 2, 3));
    EXPECT_FALSE(reread.find({"/p/one.jpg", 1234, 5679}));
    EXPECT_FALSE(reread.find({"/p/one.jpg", 1235, 5678}));
}

}  // namespace
}  // namespace tsx
