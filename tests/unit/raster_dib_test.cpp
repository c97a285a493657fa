#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "raster/byte_io.h"
#include "raster/dib.h"
#include "raster/errors.h"

using namespace tsx;

namespace {

void setPixel(TDIB& dib, int x, int y, uint8_t b, uint8_t g, uint8_t r)
{
    uint8_t* p = dib.RowPointer(y) + 3 * x;
    p[0] = b;
    p[1] = g;
    p[2] = r;
}

std::string tempPath(const char* name)
{
    return std::string(::testing::TempDir()) + "tsx_dib_" + name;
}

template <class E, class F>
std::string messageOf(F&& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(Dib, AllocateRowLayoutAndFailures)
{
    TDIB dib;
    EXPECT_TRUE(dib.IsEmpty());
    dib.Allocate(1001, 2, 24);
    EXPECT_EQ(dib.WidthBytes(), 3004);
    EXPECT_EQ(dib.Size(), 3004 * 2);
    // rows are bottom-up in storage: row 0 sits above row 1
    EXPECT_EQ(dib.RowPointer(0) - dib.RowPointer(1), 3004);

    setPixel(dib, 0, 0, 1, 2, 3);
    dib.Allocate(1001, 2, 24);  // same arguments keep the pixels
    EXPECT_EQ(dib.ScanLine(0)[2], 3);
    dib.Allocate(1000, 2, 24);
    EXPECT_EQ(dib.ScanLine(0)[2], 0);

    EXPECT_EQ(messageOf<EInvalidGraphicOperation>([&] { dib.RowPointer(2); }),
              "Index of the scanning line exceeded the range. (2)");
    EXPECT_EQ(messageOf<EInvalidGraphicOperation>([&] { dib.ScanLine(-1); }),
              "Index of the scanning line exceeded the range. (-1)");
    EXPECT_EQ(messageOf<EInvalidGraphicOperation>([&] { dib.Allocate(4, 4, 12); }), "Bitcount in invalid (12)");
    EXPECT_EQ(messageOf<EInvalidGraphicOperation>([&] { dib.Allocate(4, 4, 16); }), "PixelFormat in invalid");
    // a failed allocation keeps the old storage
    EXPECT_EQ(dib.Width(), 1000);
    EXPECT_EQ(messageOf<EOutOfResources>([&] { dib.Allocate(0x7fffffff, 0x7fffffff, 32); }), "DIB cannot be made");
    EXPECT_EQ(dib.Width(), 1000);

    dib.Allocate(0, 5, 24);
    EXPECT_TRUE(dib.IsEmpty());
    EXPECT_EQ(dib.Width(), 0);
}

TEST(Dib, CopyOnWriteKeepsOtherRastersUnchanged)
{
    TDIB a;
    a.Allocate(3, 3, 24);
    setPixel(a, 1, 1, 10, 20, 30);
    TDIB b;
    b.AssignFrom(&a);
    EXPECT_TRUE(a.SharesStorageWith(b));
    // reading never unshares
    EXPECT_EQ(b.ScanLine(1)[3], 10);
    EXPECT_TRUE(a.SharesStorageWith(b));
    setPixel(b, 1, 1, 99, 99, 99);
    EXPECT_FALSE(a.SharesStorageWith(b));
    EXPECT_EQ(a.ScanLine(1)[3], 10);
    EXPECT_EQ(b.ScanLine(1)[3], 99);

    TDIB c(a);
    a.Mirror(true, false);  // effects write through RowPointer as well
    EXPECT_EQ(c.ScanLine(1)[3], 10);

    b.AssignFrom(static_cast<const TDIB*>(nullptr));
    EXPECT_TRUE(b.IsEmpty());
    TDIB moved(std::move(c));
    EXPECT_TRUE(c.IsEmpty());
    EXPECT_EQ(moved.Width(), 3);
}

TEST(Dib, ChangeBitCountTo24FromEveryFormat)
{
    TDIB empty;
    empty.ChangeBitCount(24);
    ASSERT_EQ(empty.Width(), 1);
    EXPECT_EQ(empty.BitCount(), 24);
    EXPECT_EQ(empty.ScanLine(0)[0], 0);

    TDIB pal;
    pal.ColorTable()[0] = TRGBQuad{1, 2, 3, 0};
    pal.ColorTable()[1] = TRGBQuad{200, 100, 50, 0};
    pal.Allocate(9, 1, 1);
    pal.RowPointer(0)[0] = 0x80;  // most significant bit first: pixel 0 is index 1
    pal.ChangeBitCount(24);
    const uint8_t* p = pal.ScanLine(0);
    EXPECT_EQ(p[0], 200);
    EXPECT_EQ(p[2], 50);
    EXPECT_EQ(p[3], 1);  // pixel 1 = index 0
    EXPECT_EQ(p[24], 1);  // pixel 8 lives in the second byte

    TDIB four;
    four.ColorTable()[0xA] = TRGBQuad{7, 8, 9, 0};
    four.Allocate(2, 1, 4);
    four.RowPointer(0)[0] = 0x0A;  // high nibble first: pixel 1 is index 10
    four.ChangeBitCount(24);
    EXPECT_EQ(four.ScanLine(0)[3], 7);
    EXPECT_EQ(four.ScanLine(0)[0], 0);

    TDIB hi;
    hi.SetPixelFormat(TPixelFormat::rgb565());
    hi.Allocate(1, 1, 16);
    hi.RowPointer(0)[0] = 0x1F;  // blue all ones
    hi.RowPointer(0)[1] = 0xF8;  // red all ones
    hi.ChangeBitCount(24);
    EXPECT_EQ(hi.ScanLine(0)[0], 255);
    EXPECT_EQ(hi.ScanLine(0)[1], 0);
    EXPECT_EQ(hi.ScanLine(0)[2], 255);

    TDIB full;
    full.Allocate(1, 1, 32);
    uint8_t* q = full.RowPointer(0);
    q[0] = 5, q[1] = 6, q[2] = 7, q[3] = 8;
    full.ChangeBitCount(24);
    EXPECT_EQ(full.ScanLine(0)[0], 5);
    EXPECT_EQ(full.ScanLine(0)[2], 7);

    // and back down: the palette gets the nearest colour
    TDIB rgb;
    rgb.Allocate(2, 1, 24);
    setPixel(rgb, 1, 0, 250, 250, 250);
    rgb.ChangeBitCount(8);
    EXPECT_EQ(rgb.ScanLine(0)[0], 0);
    EXPECT_EQ(rgb.ScanLine(0)[1], 250);
}

TEST(Dib, WriteBmpLayout)
{
    TDIB dib;
    dib.Allocate(1001, 2, 24);
    setPixel(dib, 0, 0, 1, 2, 3);  // the top row is the last row in the file
    const std::string path = tempPath("layout.bmp");
    dib.WriteBmp(path);
    const std::vector<uint8_t> bytes = readWholeFile(path);
    ASSERT_EQ(bytes.size(), size_t(54 + 3004 * 2));
    ByteReader r(bytes);
    EXPECT_EQ(r.u16le(), 0x4D42);
    EXPECT_EQ(r.u32le(), 54u + 3004 * 2);
    EXPECT_EQ(r.u32le(), 0u);
    EXPECT_EQ(r.u32le(), 54u);
    EXPECT_EQ(r.u32le(), 40u);
    EXPECT_EQ(r.i32le(), 1001);
    EXPECT_EQ(r.i32le(), 2);
    EXPECT_EQ(r.u16le(), 1);
    EXPECT_EQ(r.u16le(), 24);
    EXPECT_EQ(r.u32le(), 0u);
    EXPECT_EQ(r.u32le(), 3004u * 2);
    EXPECT_EQ(bytes[54 + 3004], 1);
    EXPECT_EQ(bytes[54 + 3004 + 2], 3);
    EXPECT_EQ(bytes[54 + 3003], 0);  // padding

    TDIB back;
    back.LoadBmpForm(bytes.data(), bytes.size());
    EXPECT_EQ(back.Width(), 1001);
    EXPECT_EQ(back.ScanLine(0)[2], 3);

    TDIB empty;
    empty.WriteBmp(path);
    EXPECT_TRUE(readWholeFile(path).empty());

    EXPECT_EQ(messageOf<EFCreateError>([&] { dib.WriteBmp("/nonexistent-folder/x.bmp"); }),
              "Cannot create file /nonexistent-folder/x.bmp");

    // past 4 GB the header's sizes cannot be written truthfully: refused,
    // and an existing file stays as it was (the pixels are never touched)
    TDIB huge;
    try {
        huge.Allocate(33000, 33000, 32);
    } catch (const EOutOfResources&) {
        GTEST_SKIP() << "no address space for a 4 GB raster";
    }
    dib.WriteBmp(path);
    EXPECT_EQ(messageOf<EFCreateError>([&] { huge.WriteBmp(path); }), "Cannot create file " + path);
    EXPECT_EQ(readWholeFile(path).size(), size_t(54 + 3004 * 2));
    std::remove(path.c_str());
}

TEST(Dib, StoredFormsRoundTripEveryBitCount)
{
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        TDIB dib;
        if (bits == 16)
            dib.SetPixelFormat(TPixelFormat::rgb565());
        dib.ColorTable()[1] = TRGBQuad{9, 8, 7, 0};
        dib.Allocate(13, 5, bits);
        for (int y = 0; y < 5; ++y)
            for (int i = 0; i < dib.WidthBytes(); ++i)
                dib.RowPointer(y)[i] = uint8_t(y * 31 + i);
        const std::vector<uint8_t> form = dib.SaveStoredForm();
        TDIB back;
        back.LoadStoredForm(form.data(), form.size());
        ASSERT_EQ(back.BitCount(), bits);
        EXPECT_EQ(back.PixelFormat(), dib.PixelFormat()) << bits;
        if (bits <= 8) {
            EXPECT_EQ(back.ColorTable()[1], dib.ColorTable()[1]);
        }
        for (int y = 0; y < 5; ++y)
            EXPECT_EQ(0, std::memcmp(back.ScanLine(y), dib.ScanLine(y), size_t(dib.WidthBytes()))) << bits;
    }
}

TEST(Dib, ReadingRejectsWhatIsNotADib)
{
    TDIB dib;
    dib.Allocate(2, 2, 24);
    const uint8_t notBmp[20] = {'B', 'A'};
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { dib.LoadBmpForm(notBmp, sizeof notBmp); }), "DIB is invalid");
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { dib.LoadBmpForm(notBmp, 10); }), "DIB is invalid");
    dib.LoadBmpForm(notBmp, 0);  // nothing to read: unchanged
    EXPECT_EQ(dib.Width(), 2);

    std::vector<uint8_t> form = blankRasterStoredForm();
    form[0] = 64;  // a header size of ours is 12 or 40
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { dib.LoadStoredForm(form.data(), form.size()); }), "DIB is invalid");
    form = blankRasterStoredForm();
    form[16] = 4;  // compression 4
    EXPECT_EQ(messageOf<EInvalidGraphic>([&] { dib.LoadStoredForm(form.data(), form.size()); }), "DIB is invalid");
    EXPECT_EQ(dib.Width(), 2);
    dib.LoadStoredForm(form.data(), 0);
    EXPECT_TRUE(dib.IsEmpty());
}

TEST(Dib, BlankRasterIsSilver)
{
    EXPECT_EQ(blankRasterStoredForm().size(), 1768u);
    const TDIB blank = blankRaster();
    ASSERT_EQ(blank.Width(), 24);
    ASSERT_EQ(blank.Height(), 24);
    ASSERT_EQ(blank.BitCount(), 24);
    for (int y = 0; y < 24; ++y)
        for (int i = 0; i < 72; ++i)
            ASSERT_EQ(blank.ScanLine(y)[i], 192);
    EXPECT_EQ(blank.SaveStoredForm(), blankRasterStoredForm());
}
