// The messages a user can meet, reached through the batch tool as a user
// reaches them: each damaged or refused file gives exactly its message on
// stderr and exit status 1, and nothing is written.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/project_file.h"
#include "decoders_support.h"
#include "engine_test_support.h"
#include "raster/byte_io.h"
#include "wizard/image_list.h"

namespace tsx {
namespace {

namespace fs = std::filesystem;
using testing::ByteBuilder;
using testing::Bytes;

class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_tool = fs::path(TESSERIX_BINARY_DIR) / "tesserix-cli";
        if (!fs::exists(m_tool))
            GTEST_SKIP() << "the batch tool is not built in this tree (" << m_tool << ")";
        m_dir = fs::temp_directory_path() /
                ("tesserix-messages-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                 "-" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override
    {
        if (!m_dir.empty())
            fs::remove_all(m_dir);
    }

    std::string path(const std::string& name) const { return (m_dir / name).string(); }
    std::string write(const std::string& name, const Bytes& bytes) const
    {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path(name);
    }
    std::string write(const std::string& name, const std::string& text) const
    {
        return write(name, Bytes(text.begin(), text.end()));
    }
    // Runs the tool; returns its exit status, stdout in m_out, stderr in m_err.
    int run(const std::string& args)
    {
        const std::string cmd =
            "'" + m_tool.string() + "' " + args + " >'" + path("out.txt") + "' 2>'" + path("err.txt") + "'";
        const int status = std::system(cmd.c_str());
        m_out = slurp(path("out.txt"));
        m_err = slurp(path("err.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string slurp(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path m_tool, m_dir;
    std::string m_out, m_err;
};

struct Refused {
    std::string name;
    Bytes bytes;
    std::string message;
};

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A GIF of 2 x 2 pixels whose LZW data starts with a code the table does
// not have yet (clear, then code 6 with minimum code size 2).
Bytes gifWithBadCode()
{
    ByteBuilder b;
    b.text("GIF89a").u16(2).u16(2).u8(0x80).u8(0).u8(0);
    b.u8(0).u8(0).u8(0).u8(255).u8(255).u8(255);
    b.u8(',').u16(0).u16(0).u16(2).u16(2).u8(0);
    b.u8(2).u8(1).u8(0x34).u8(0).u8(';');
    return b.bytes;
}

Bytes tiff(int compression, const Bytes& strip, uint32_t width = 2)
{
    return testing::makeTiff(false,
                             {{256, 3, {width}}, {257, 3, {2}}, {258, 3, {8, 8, 8}}, {259, 3, {uint32_t(compression)}},
                              {262, 3, {2}}, {277, 3, {3}}, {278, 3, {2}}},
                             {strip});
}

Bytes pcx(int first, int bitsPerPlane, int planes)
{
    ByteBuilder b;
    b.u8(first).u8(5).u8(1).u8(bitsPerPlane).u16(0).u16(0).u16(3).u16(1).u16(72).u16(72).zeros(48);
    b.u8(0).u8(planes).u16(4).u16(1);
    b.zeros(128 - b.size()).zeros(16);
    return b.bytes;
}

Bytes rlaOfOneChannel()
{
    ByteBuilder b;
    b.bigEndian = true;
    b.u16(0).u16(1).u16(0).u16(1).zeros(12).u16(1).u16(1);
    b.zeros(740 - b.size()).zeros(64);
    return b.bytes;
}

Bytes targaOfTwelveBits()
{
    ByteBuilder b;
    b.u8(0).u8(0).u8(2).u16(0).u16(0).u8(0).u16(0).u16(0).u16(2).u16(2).u8(12).u8(0).zeros(12);
    return b.bytes;
}

Bytes psdInMode(int mode)
{
    ByteBuilder b;
    b.bigEndian = true;
    b.text("8BPS").u16(1).zeros(6).u16(3).u32(1).u32(2).u16(8).u16(mode);
    b.u32(0).u32(0).u32(0).u16(0).append({1, 2, 3, 4, 5, 6});
    return b.bytes;
}

Bytes sgiOfThreeBytesPerChannel()
{
    ByteBuilder b;
    b.bigEndian = true;
    b.u16(474).u8(0).u8(3).u16(3).u16(2).u16(2).u16(3);
    b.zeros(512 - b.size()).zeros(64);
    return b.bytes;
}

TEST_F(MessagesTest, EveryRefusedPictureShowsItsOwnMessage)
{
    // clear (256) then 300, which no table holds yet, in 9-bit codes
    Bytes badTiffCodes = {0x80, 0x4B, 0x00};
    badTiffCodes.resize(24, 0);
    const std::vector<Refused> cases = {
        {"photo.jxl", text("\xFF\x0A"), "Unknown picture file extension (.jxl)"},
        {"photo.png", text("\x89PNG"), "PNG: end of stream"},
        {"noext", text("BM"), "Unknown picture file extension (.)"},
        {"short.bmp", text("BM\x10\x00"), "Stream read error"},
        {"other.bmp", text("XX" + std::string(60, '\0')), "Bitmap image is not valid"},
        {"old.pic", Bytes(128, 0), "Cannot load image. Only old style Autodesk images are supported."},
        {"plain.gif", text("This is not a GIF at all"), "Not a valid GIF file."},
        {"codes.gif", gifWithBadCode(), "GIF LZW: invalid opcode."},
        {"empty.tif", tiff(1, Bytes(12, 1), 0), "Invalid TIFF file."},
        {"jpeg.tif", tiff(7, Bytes(12, 1)), "TIFF: Unknown compression scheme"},
        {"codes.tif", tiff(5, badTiffCodes), "TIF LZW: invalid opcode."},
        {"other.pcx", pcx(11, 8, 1), "Not a PCX or SCR file."},
        {"planes.pcx", pcx(10, 8, 2), "PCX: wrong pixel format"},
        {"p7.ppm", text("P7 2 2 255\n"), "Not a valid ppm file."},
        {"cut.ppm", text("P6 2 2 255\nabc"), "PPM: Stream read error."},
        {"lab.psd", psdInMode(7), "Not a valid psd file."},
        {"wide.sgi", sgiOfThreeBytesPerChannel(), "Not a valid sgi, bw or rgb(a) image."},
        {"grey.rla", rlaOfOneChannel(), "RLA: image must be RGB(A)."},
        {"deep.tga", targaOfTwelveBits(), "Targa: invalid image"},
        {"blank.pcd", Bytes(3000, 0), "PCD: wrong image format."},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = write(c.name, c.bytes);
        EXPECT_EQ(run("convert '" + file + "' '" + path("out.bmp") + "'"), 1);
        EXPECT_EQ(m_err, c.message + "\n");
        EXPECT_FALSE(fs::exists(path("out.bmp")));
    }

    // the library's own number for data it cannot decode
    write("broken.jpg", Bytes{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0x12, 0x34, 0x56});
    EXPECT_EQ(run("convert '" + path("broken.jpg") + "' '" + path("out.bmp") + "'"), 1);
    EXPECT_EQ(m_err.rfind("JPEG error #", 0), 0u) << m_err;
    EXPECT_FALSE(fs::exists(path("out.bmp")));

    EXPECT_EQ(run("convert '" + path("gone.bmp") + "' '" + path("out.bmp") + "'"), 1);
    EXPECT_EQ(m_err, "Cannot open file " + path("gone.bmp") + "\n");
}

TEST_F(MessagesTest, ProjectAndImageListFilesThatCannotBeReadShowTheirMessages)
{
    EXPECT_EQ(run("render --quiet --project '" + path("gone.tsx") + "' --out '" + path("out.bmp") + "'"), 1);
    EXPECT_EQ(m_err, "Cannot open file " + path("gone.tsx") + "\n");

    // A job of 16 x 16 cells that uses picture 5 of a list of two.
    auto owned = std::make_unique<MosaicJob>();
    MosaicJob& job = *owned;
    ImageList list(job.signatureStream);
    job.settings = MosaicSettings::wizardDefaults();
    job.settings.rows = 16;
    job.settings.cols = 16;
    job.settings.mosaicWidth = 16 * job.settings.cellWidth;
    job.settings.mosaicHeight = 16 * job.settings.cellHeight;
    job.placementGrid.clear();
    list.clear();
    list.append(path("a.bmp"), CellSignature{1, 2, 3, 0, 0});
    list.append(path("b.bmp"), CellSignature{4, 5, 6, 0, 0});
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c)
            job.placementGrid.at(c, r) = CellPlacement{r == 3 && c == 4 ? 5 : 1, 0, 0, 0, 1};
    saveProject(path("stale.tsx"), job, list);
    EXPECT_EQ(run("stats --project '" + path("stale.tsx") + "'"), 1);
    EXPECT_EQ(m_err, "List index out of bounds (5)\n");
    EXPECT_NE(m_out.find("b.bmp"), std::string::npos) << "the lines before the failure are shown: " << m_out;

    job.settings.selfMosaic = true;
    saveProject(path("self.tsx"), job, list);
    EXPECT_EQ(run("stats --project '" + path("self.tsx") + "'"), 1);
    EXPECT_EQ(m_err, "You do not need stats for selfmosiac\n");

    // A project that ends inside its list of paths is refused whole.
    Bytes cut = readWholeFile(path("stale.tsx"));
    cut.resize(90);
    write("cut.tsx", cut);
    EXPECT_EQ(run("render --quiet --project '" + path("cut.tsx") + "' --out '" + path("out.bmp") + "'"), 1);
    EXPECT_EQ(m_err, "This is not a valid project file: the file ends before its last block.\n");
    EXPECT_FALSE(fs::exists(path("out.bmp")));

    // An ImageList whose first length field claims more than the file holds.
    ByteBuilder iml;
    iml.u32(5000).text("short");
    write("bad.iml", iml.bytes);
    TDIB source;
    test::fillRaster(source, 8, 8, {{50, 60, 70}});
    source.WriteBmp(path("source.bmp"));
    EXPECT_EQ(run("make --quiet --source '" + path("source.bmp") + "' --imagelist '" + path("bad.iml") +
                  "' --out '" + path("out.bmp") + "' --rows 16 --cols 16"),
              1);
    EXPECT_EQ(m_err, "Stream read error\n");
    EXPECT_FALSE(fs::exists(path("out.bmp")));
}

}  // namespace
}  // namespace tsx
