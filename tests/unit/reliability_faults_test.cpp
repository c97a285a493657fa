// Faults the program must survive: writes that fail part-way or cannot
// start, picture files that vanished after they were listed, and rasters
// the address space cannot hold. Most cases go through the batch tool, as a
// user meets them.

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "imageio/picture.h"
#include "raster/byte_io.h"
#include "raster/errors.h"

namespace tsx {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedAddressSpace = true;  // the shadow memory needs terabytes of address space
#else
constexpr bool kSanitizedAddressSpace = false;
#endif

std::string slurp(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Names in a folder that a failed write may have left behind.
std::vector<std::string> temporaryFiles(const fs::path& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos)
            found.push_back(entry.path().filename().string());
    return found;
}

bool isCharacterDevice(const char* path)
{
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISCHR(st.st_mode);
}

// Lets no file in this process grow past `bytes` for its lifetime: a write
// beyond fails with EFBIG instead of killing the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit lowered = m_old;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        ::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old {};
    sighandler_t m_oldHandler;
};

class FaultTest : public testing::Test {
protected:
    void SetUp() override
    {
        // ctest runs the cases side by side: one folder per case and process
        m_dir = fs::temp_directory_path() /
                ("tesserix-faults-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
                 "-" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "pics");
        for (int k = 0; k < 12; ++k) {
            test::ColourList pixels;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    pixels.push_back({uint8_t(20 * k + x), uint8_t(250 - 20 * k), uint8_t(10 * y)});
            TDIB dib;
            test::fillRaster(dib, 8, 8, pixels);
            dib.WriteBmp(pic(k));
        }
        test::ColourList source;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                source.push_back({uint8_t(7 * x), uint8_t(7 * y), 90});
        TDIB dib;
        test::fillRaster(dib, 32, 32, source);
        dib.WriteBmp(path("source.bmp"));
        // a regular file, so that nothing can be created "inside" it, even as root
        std::ofstream(path("plain")) << "not a folder";
    }
    void TearDown() override
    {
        if (!m_dir.empty())
            fs::remove_all(m_dir);
    }

    std::string path(const std::string& name) const { return (m_dir / name).string(); }
    std::string pic(int k) const { return (m_dir / "pics" / ("p" + std::to_string(k) + ".bmp")).string(); }

    bool haveTool()
    {
        m_tool = fs::path(TESSERIX_BINARY_DIR) / "tesserix-cli";
        return fs::exists(m_tool);
    }
    // Runs the batch tool (after `prefix`, e.g. a resource limit); returns
    // its exit status, -1 when it did not exit by itself, stderr in m_err.
    int run(const std::string& args, const std::string& prefix = "")
    {
        const std::string cmd = prefix + "'" + m_tool.string() + "' " + args + " >'" + path("out.txt") + "' 2>'" +
                                path("err.txt") + "'";
        const int status = std::system(cmd.c_str());
        m_err = slurp(path("err.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string makeArgs(const std::string& out, const std::string& extra = "") const
    {
        return "make --quiet --seed 7 --source '" + path("source.bmp") + "' --images '" + (m_dir / "pics").string() +
               "' --out '" + out + "' --rows 16 --cols 16 --cell-width 24 --cell-height 24 " + extra;
    }
    std::string cannotCreate(const std::string& file) const { return "Cannot create file " + file + "\n"; }

    fs::path m_dir, m_tool;
    std::string m_err;
};

TEST_F(FaultTest, AWriteThatFailsPartWayKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    const std::string target = path("old.bin");
    std::ofstream(target) << "the old contents";
    const std::vector<uint8_t> big(64 * 1024, 0x5a);
    {
        FileSizeLimit limit(4096);
        try {
            writeWholeFile(target, big);
            ADD_FAILURE() << "a write past the file size limit was reported as done";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create file " + target);
        }
    }
    EXPECT_EQ(slurp(target), "the old contents");
    EXPECT_TRUE(temporaryFiles(m_dir).empty());
}

TEST_F(FaultTest, SavingThroughALinkOrOntoADeviceKeepsTheLinkAndTheDevice)
{
    const std::string real = path("real.bin");
    std::ofstream(real) << "old";
    fs::create_symlink(real, path("link.bin"));
    writeWholeFile(path("link.bin"), {'n', 'e', 'w'});
    EXPECT_TRUE(fs::is_symlink(path("link.bin")));
    EXPECT_EQ(slurp(real), "new");
    EXPECT_TRUE(temporaryFiles(m_dir).empty());

    if (!isCharacterDevice("/dev/full"))
        GTEST_SKIP() << "no /dev/full on this machine";
    try {
        writeWholeFile("/dev/full", std::vector<uint8_t>(100, 1));
        ADD_FAILURE() << "a write to a full device was reported as done";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file /dev/full");
    }
    // renaming a finished file over it would have replaced the device
    EXPECT_TRUE(isCharacterDevice("/dev/full"));
    EXPECT_TRUE(temporaryFiles("/dev").empty());
}

TEST_F(FaultTest, BatchToolReportsEveryOutputItCannotWrite)
{
    if (!haveTool())
        GTEST_SKIP() << "the batch tool is not built in this tree (" << m_tool << ")";
    const std::string inFile = path("plain") + "/x";
    const std::string noFolder = path("no/such/folder") + "/x";

    EXPECT_EQ(run(makeArgs(inFile + ".bmp")), 1);
    EXPECT_EQ(m_err, cannotCreate(inFile + ".bmp"));
    EXPECT_EQ(run(makeArgs(path("a.bmp"), "--project '" + noFolder + ".tsx'")), 1);
    EXPECT_EQ(m_err, cannotCreate(noFolder + ".tsx"));
    EXPECT_EQ(run(makeArgs(path("a.bmp"), "--imagelist-out '" + inFile + ".iml'")), 1);
    EXPECT_EQ(m_err, cannotCreate(inFile + ".iml"));
    EXPECT_EQ(run(makeArgs(path("a.bmp"), "--stats '" + noFolder + ".txt'")), 1);
    EXPECT_EQ(m_err, cannotCreate(noFolder + ".txt"));
    EXPECT_EQ(run("imagelist --quiet --images '" + (m_dir / "pics").string() + "' --out '" + inFile + ".iml'"), 1);
    EXPECT_EQ(m_err, cannotCreate(inFile + ".iml"));
    EXPECT_EQ(run("convert '" + path("source.bmp") + "' '" + noFolder + ".ppm'"), 1);
    EXPECT_EQ(m_err, cannotCreate(noFolder + ".ppm"));
    if (isCharacterDevice("/dev/full")) {
        EXPECT_EQ(run(makeArgs("/dev/full")), 1);
        EXPECT_EQ(m_err, cannotCreate("/dev/full"));
        EXPECT_TRUE(isCharacterDevice("/dev/full"));
    }

    // a mosaic that cannot be finished on disk leaves the old one whole
    ASSERT_EQ(run(makeArgs(path("kept.bmp"))), 0) << m_err;
    const std::string before = slurp(path("kept.bmp"));
    EXPECT_EQ(run(makeArgs(path("kept.bmp"), "--hflip"), "trap '' XFSZ; ulimit -f 8; "), 1);
    EXPECT_EQ(m_err, cannotCreate(path("kept.bmp")));
    EXPECT_TRUE(slurp(path("kept.bmp")) == before);
    EXPECT_TRUE(temporaryFiles(m_dir).empty());
}

TEST_F(FaultTest, PicturesGoneSinceTheProjectOrImageListWasSavedStopTheRender)
{
    if (!haveTool())
        GTEST_SKIP() << "the batch tool is not built in this tree (" << m_tool << ")";
    ASSERT_EQ(run(makeArgs(path("a.bmp"), "--use-all --project '" + path("a.tsx") + "' --imagelist-out '" +
                                              path("a.iml") + "'")),
              0)
        << m_err;
    fs::remove(pic(5));

    EXPECT_EQ(run("render --quiet --project '" + path("a.tsx") + "' --out '" + path("b.bmp") + "'"), 1);
    EXPECT_EQ(m_err, "Cannot open file " + pic(5) + "\n");
    EXPECT_FALSE(fs::exists(path("b.bmp")));

    EXPECT_EQ(run("make --quiet --seed 7 --use-all --rows 16 --cols 16 --cell-width 24 --cell-height 24 --source '" +
                  path("source.bmp") + "' --imagelist '" + path("a.iml") + "' --out '" + path("c.bmp") + "'"),
              1);
    EXPECT_EQ(m_err, "Cannot open file " + pic(5) + "\n");
    EXPECT_FALSE(fs::exists(path("c.bmp")));
}

TEST_F(FaultTest, AMosaicTooLargeForTheAddressSpaceIsReportedNotFatal)
{
    if (kSanitizedAddressSpace)
        GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address space limit";
    if (!haveTool())
        GTEST_SKIP() << "the batch tool is not built in this tree (" << m_tool << ")";
    // The batch tool holds one band of cell rows, never the whole mosaic:
    // the widest mosaic (640 cells of 800 x 800) needs 1.2 GB for a single
    // band, here in 700 MB of address space.
    EXPECT_EQ(run("make --quiet --source '" + path("source.bmp") + "' --images '" + (m_dir / "pics").string() +
                      "' --out '" + path("big.tif") + "' --rows 16 --cols 640 --cell-width 800 --cell-height 800",
                  "ulimit -v 716800; "),
              1);
    EXPECT_EQ(m_err, "DIB cannot be made\n");
    EXPECT_FALSE(fs::exists(path("big.tif")));
    EXPECT_TRUE(temporaryFiles(m_dir).empty());
}

// A bitmap of the largest mosaic's size, one bit a pixel so that the test
// stays small: the reader's bound on pixels must not refuse what the program
// itself writes, and still refuses one row more.
TEST(LargestMosaic, ABitmapOfItsSizeOpensAndOneRowMoreIsRefused)
{
    constexpr int side = 20480;
    constexpr uint32_t rowBytes = side / 8;
    auto bitmapFile = [&](int height) {
        std::vector<uint8_t> file;
        ByteWriter w(file);
        const uint32_t image = rowBytes * uint32_t(height);
        w.u16le(0x4D42);
        w.u32le(62 + image);
        w.u32le(0);
        w.u32le(62);
        w.u32le(40);
        w.i32le(side);
        w.i32le(height);
        w.u16le(1);
        w.u16le(1);
        w.u32le(0);
        w.u32le(image);
        w.zeros(16);
        w.u32le(0x00000000);  // black
        w.u32le(0x00FFFFFF);  // white
        w.zeros(image);
        file[62 + image - rowBytes] = 0x80;  // top row, first pixel white
        return file;
    };
    TBitmap bitmap;
    const std::vector<uint8_t> largest = bitmapFile(side);
    bitmap.LoadFromMemory(largest.data(), largest.size());
    EXPECT_EQ(bitmap.Width(), side);
    EXPECT_EQ(bitmap.Height(), side);
    EXPECT_EQ(bitmap.Dib().ScanLine(0)[0], 0x80);

    const std::vector<uint8_t> taller = bitmapFile(side + 1);
    try {
        bitmap.LoadFromMemory(taller.data(), taller.size());
        ADD_FAILURE() << "a bitmap larger than any mosaic was read";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Bitmap image is not valid");
    }
}

TEST(AddressSpaceLimit, AFailedAllocationKeepsTheRasterAndTheProcessGoesOn)
{
    if (kSanitizedAddressSpace)
        GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address space limit";
    // In a child, so the limit cannot starve the other tests.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        const rlim_t room = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (rlim_t(256) << 20);
        const rlimit limit{room, room};
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
            ::_exit(3);
        TDIB dib;
        test::fillRaster(dib, 5, 4, {{10, 20, 30}});
        try {
            dib.Allocate(20480, 20480, 24);
            ::_exit(4);  // 1.2 GB fitted in 256 MB
        } catch (const EOutOfResources& e) {
            if (std::string(e.what()) != "DIB cannot be made")
                ::_exit(5);
        } catch (...) {
            ::_exit(6);
        }
        // the raster kept its pixels, and work of a sensible size goes on
        if (dib.Width() != 5 || dib.ScanLine(3)[2] != 10)
            ::_exit(7);
        TDIB cell;
        cell.Allocate(800, 800, 24);
        cell.RowPointer(799)[2399] = 1;
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: no limit set, 4: no failure, 5-6: wrong error, 7: raster changed";
}

}  // namespace
}  // namespace tsx
