#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imageio/picture.h"
#include "raster/byte_io.h"
#include "raster/errors.h"

using namespace tsx;

namespace {

const std::string kFormats = TESSERIX_SOURCE_DIR "/../shared/testdata/formats";

struct Ppm {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

Ppm readPpm(const std::string& path)
{
    const std::vector<uint8_t> bytes = readWholeFile(path);
    Ppm ppm;
    std::string text(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 64));
    std::istringstream in(text);
    std::string magic;
    int maxValue = 0;
    in >> magic >> ppm.width >> ppm.height >> maxValue;
    const size_t offset = size_t(in.tellg()) + 1;
    ppm.rgb.assign(bytes.begin() + long(offset), bytes.end());
    return ppm;
}

// The largest channel difference between a loaded picture and a reference.
int maxDifference(const TDIB& dib, const Ppm& ppm)
{
    if (dib.Width() != ppm.width || dib.Height() != ppm.height || dib.BitCount() != 24)
        return 1000;
    int worst = 0;
    for (int y = 0; y < ppm.height; ++y) {
        const uint8_t* row = dib.ScanLine(y);
        for (int x = 0; x < ppm.width; ++x) {
            const uint8_t* ref = ppm.rgb.data() + (size_t(y) * ppm.width + x) * 3;
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(int(row[3 * x + 2 - c]) - int(ref[c])));
        }
    }
    return worst;
}

struct SuiteCase {
    std::string file, expected;
    std::vector<std::string> references;  // any of them may match
};

// The bmpsuite rows of the corpus README: | file | what | expected | reference |
std::vector<SuiteCase> suiteCases()
{
    std::ifstream readme(kFormats + "/README.md");
    std::vector<SuiteCase> cases;
    std::string line;
    bool inSuite = false;
    while (std::getline(readme, line)) {
        if (line.rfind("## ", 0) == 0)
            inSuite = line == "## bmpsuite/";
        if (!inSuite || line.size() < 4 || line[0] != '|' || line[2] == 'F' || line[2] == '-')
            continue;
        std::vector<std::string> cells;
        std::stringstream ss(line.substr(1));
        std::string cell;
        while (std::getline(ss, cell, '|')) {
            const size_t a = cell.find_first_not_of(' '), b = cell.find_last_not_of(' ');
            cells.push_back(a == std::string::npos ? "" : cell.substr(a, b - a + 1));
        }
        if (cells.size() < 4)
            continue;
        SuiteCase c{cells[0], cells[2], {}};
        std::stringstream refs(cells[3]);
        std::string ref;
        while (std::getline(refs, ref, ','))
            c.references.push_back(ref.substr(ref.find_first_not_of(' ')));
        cases.push_back(c);
    }
    return cases;
}

// A small BMP made in code: 40-byte header, given bit count and rows.
std::vector<uint8_t> makeBmp(int width, int height, int bitCount, const std::vector<uint8_t>& palette,
                             const std::vector<uint8_t>& rows, uint32_t compression = 0, uint32_t imageSize = 0)
{
    std::vector<uint8_t> out;
    ByteWriter w(out);
    w.u8('B');
    w.u8('M');
    w.u32le(0);
    w.u32le(0);
    w.u32le(0);  // the pixel offset is never trusted
    w.u32le(40);
    w.i32le(width);
    w.i32le(height);
    w.u16le(1);
    w.u16le(uint16_t(bitCount));
    w.u32le(compression);
    w.u32le(imageSize);
    w.zeros(8);
    w.u32le(uint32_t(palette.size() / 4));
    w.u32le(0);
    w.bytes(palette.data(), palette.size());
    w.bytes(rows.data(), rows.size());
    return out;
}

}  // namespace

TEST(BmpSuite, EveryFileMeetsItsExpectedOutcome)
{
    if (!std::ifstream(kFormats + "/README.md"))
        GTEST_SKIP() << "the image-format corpus is not at " << kFormats;
    const std::vector<SuiteCase> cases = suiteCases();
    ASSERT_GT(cases.size(), 80u);
    for (const SuiteCase& c : cases) {
        SCOPED_TRACE(c.file);
        TPicture picture;
        bool loaded = true;
        try {
            LoadPicture(kFormats + "/bmpsuite/" + c.file, picture);
        } catch (const Error&) {
            loaded = false;
        }
        if (c.expected.rfind("error", 0) == 0) {
            EXPECT_FALSE(loaded);
            continue;
        }
        if (c.expected.rfind("decodes", 0) != 0)
            continue;  // left open: decoding or a clean error are both fine
        ASSERT_TRUE(loaded);
        const bool exact = c.expected.find("matches the reference exactly") != std::string::npos;
        const bool near = c.expected.find("within 7") != std::string::npos;
        if (!exact && !near)
            continue;
        int best = 1000;
        for (const std::string& ref : c.references)
            best = std::min(best, maxDifference(picture.Bitmap().Dib(), readPpm(kFormats + "/bmpsuite/" + ref)));
        EXPECT_LE(best, exact ? 0 : 7);
    }
}

TEST(BmpReader, HeaderAndTableRules)
{
    TBitmap bmp;
    // an empty file is an empty bitmap, not an error
    bmp.LoadFromMemory(nullptr, 0);
    EXPECT_EQ(bmp.Width(), 0);

    // 2 x 2, 8 bits: palette of two colours, rows bottom-up padded to 4 bytes
    const std::vector<uint8_t> palette = {10, 20, 30, 0, 40, 50, 60, 0};
    std::vector<uint8_t> file = makeBmp(2, 2, 8, palette, {0, 1, 0, 0, 1, 1, 0, 0});
    bmp.LoadFromMemory(file.data(), file.size());
    ASSERT_EQ(bmp.Width(), 2);
    EXPECT_EQ(bmp.Dib().BitCount(), 8);
    EXPECT_EQ(bmp.Dib().ScanLine(0)[0], 1);  // the top row is the last stored
    EXPECT_EQ(bmp.Dib().ScanLine(1)[1], 1);
    bmp.SetPixelFormat24();
    EXPECT_EQ(bmp.Dib().ScanLine(1)[0], 10);
    EXPECT_EQ(bmp.Dib().ScanLine(1)[5], 60);

    // a negative height stores the top row first
    file = makeBmp(2, -2, 8, palette, {0, 1, 0, 0, 1, 1, 0, 0});
    bmp.LoadFromMemory(file.data(), file.size());
    EXPECT_EQ(bmp.Dib().ScanLine(0)[0], 0);
    EXPECT_EQ(bmp.Dib().ScanLine(0)[1], 1);

    auto message = [&](const std::vector<uint8_t>& bytes) -> std::string {
        try {
            TBitmap b;
            b.LoadFromMemory(bytes.data(), bytes.size());
        } catch (const Error& e) {
            return e.what();
        }
        return "(loaded)";
    };
    std::vector<uint8_t> bad = file;
    bad[1] = 'A';
    EXPECT_EQ(message(bad), "Bitmap image is not valid");
    bad = file;
    bad[26] = 2;  // planes
    EXPECT_EQ(message(bad), "Bitmap image is not valid");
    bad = file;
    bad[28] = 2;  // 2 bits per pixel
    EXPECT_EQ(message(bad), "Bitmap image is not valid");
    bad = file;
    bad[30] = 4;  // embedded JPEG
    EXPECT_EQ(message(bad), "Bitmap image is not valid");
    // cut inside the colour table
    EXPECT_EQ(message(std::vector<uint8_t>(file.begin(), file.begin() + 58)), "Stream read error");
    EXPECT_EQ(message(std::vector<uint8_t>(file.begin(), file.begin() + 8)), "Stream read error");

    // a forged size never allocates: 60000 x 60000 is past the limit, and
    // 8000 x 8000 is far more than a few bytes of data can describe
    EXPECT_EQ(message(makeBmp(60000, 60000, 24, {}, {1, 2, 3})), "Bitmap image is not valid");
    EXPECT_EQ(message(makeBmp(8000, 8000, 24, {}, {1, 2, 3})), "Bitmap image is not valid");
    EXPECT_EQ(message(makeBmp(-5, 5, 24, {}, {1, 2, 3})), "Bitmap image is not valid");
}

TEST(BmpReader, CutPixelDataLoadsWithBlackRows)
{
    // 1 x 3 at 24 bits: rows of 4 bytes; only the bottom row is present
    const std::vector<uint8_t> file = makeBmp(1, 3, 24, {}, {7, 8, 9, 0, 1});
    TBitmap bmp;
    bmp.LoadFromMemory(file.data(), file.size());
    ASSERT_EQ(bmp.Height(), 3);
    EXPECT_EQ(bmp.Dib().ScanLine(2)[0], 7);
    EXPECT_EQ(bmp.Dib().ScanLine(1)[0], 1);
    EXPECT_EQ(bmp.Dib().ScanLine(1)[1], 0);
    EXPECT_EQ(bmp.Dib().ScanLine(0)[0], 0);
}

TEST(BmpReader, RunLengthDataFollowsThePublishedRules)
{
    const std::vector<uint8_t> palette(16 * 4, 0);
    // 8 bits, 4 x 3: a run of 3, end of line; a delta (1, 1); literal 2 pixels
    const std::vector<uint8_t> rle8 = {3, 5, 0, 0, 0, 2, 1, 1, 0, 3, 7, 8, 9, 0, 0, 1};
    TBitmap bmp;
    std::vector<uint8_t> file = makeBmp(4, 3, 8, palette, rle8, 1, uint32_t(rle8.size()));
    bmp.LoadFromMemory(file.data(), file.size());
    const TDIB& d = bmp.Dib();
    ASSERT_EQ(d.BitCount(), 8);
    // bottom row: 5 5 5 0
    EXPECT_EQ(d.ScanLine(2)[0], 5);
    EXPECT_EQ(d.ScanLine(2)[2], 5);
    EXPECT_EQ(d.ScanLine(2)[3], 0);
    // the delta skips the second row and moves to x 1 of the top row; the
    // literal of 3 stops at the right edge
    EXPECT_EQ(d.ScanLine(1)[0], 0);
    EXPECT_EQ(d.ScanLine(0)[0], 0);
    EXPECT_EQ(d.ScanLine(0)[1], 7);
    EXPECT_EQ(d.ScanLine(0)[3], 9);

    // 4 bits: a run alternates the two nibbles, literals of odd length pad
    const std::vector<uint8_t> rle4 = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1};
    file = makeBmp(6, 2, 4, palette, rle4, 2, 0);
    bmp.LoadFromMemory(file.data(), file.size());
    const TDIB& f = bmp.Dib();
    ASSERT_EQ(f.BitCount(), 4);
    EXPECT_EQ(f.ScanLine(1)[0], 0x12);
    EXPECT_EQ(f.ScanLine(1)[1], 0x12);
    EXPECT_EQ(f.ScanLine(1)[2], 0x10);
    EXPECT_EQ(f.ScanLine(0)[0], 0x34);
    EXPECT_EQ(f.ScanLine(0)[1], 0x50);

    // overruns are dropped, not written past the rows
    const std::vector<uint8_t> overrun = {255, 1, 255, 1, 0, 2, 255, 255, 255, 4, 0, 255};
    file = makeBmp(2, 2, 8, palette, overrun, 1, 0);
    bmp.LoadFromMemory(file.data(), file.size());
    EXPECT_EQ(bmp.Dib().ScanLine(1)[1], 1);
}
