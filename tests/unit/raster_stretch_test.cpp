#include <gtest/gtest.h>

#include "imageio/picture.h"
#include "raster/dib.h"

using namespace tsx;

namespace {

TDIB raster(int w, int h)
{
    TDIB d;
    d.Allocate(w, h, 24);
    return d;
}

void fill(TDIB& d, int x, int y, uint8_t v)
{
    uint8_t* p = d.RowPointer(y) + 3 * x;
    p[0] = p[1] = p[2] = v;
}

uint8_t at(const TDIB& d, int x, int y) { return d.ScanLine(y)[3 * x]; }

}  // namespace

TEST(StretchNearest, SamplesSpreadEvenlyAndAreNeverAveraged)
{
    // half black, half white: 16 samples of 32 columns take 8 of each
    TDIB src = raster(32, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 16; x < 32; ++x)
            fill(src, x, y, 255);
    TDIB dst = raster(16, 16);
    stretchNearest(src, {0, 0, 32, 32}, dst, {0, 0, 16, 16});
    int white = 0;
    for (int x = 0; x < 16; ++x) {
        EXPECT_TRUE(at(dst, x, 3) == 0 || at(dst, x, 3) == 255);
        white += at(dst, x, 3) == 255;
    }
    EXPECT_EQ(white, 8);

    // enlarging repeats rows and columns
    TDIB two = raster(2, 1);
    fill(two, 1, 0, 9);
    TDIB four = raster(4, 2);
    stretchNearest(two, {0, 0, 2, 1}, four, {0, 0, 4, 2});
    EXPECT_EQ(at(four, 0, 1), 0);
    EXPECT_EQ(at(four, 1, 1), 0);
    EXPECT_EQ(at(four, 2, 1), 9);
    EXPECT_EQ(at(four, 3, 0), 9);
}

TEST(StretchNearest, ClipsToTheTargetAndKeepsPadding)
{
    TDIB src = raster(2, 2);
    fill(src, 0, 0, 50);
    TDIB dst = raster(3, 3);  // rows of 9 pixel bytes + 3 padding bytes
    stretchNearest(src, {0, 0, 2, 2}, dst, {-2, -2, 2, 2});
    EXPECT_EQ(at(dst, 0, 0), 0);  // the target pixel (0,0) maps to source (1,1)
    stretchNearest(src, {0, 0, 2, 2}, dst, {1, 1, 5, 5});
    EXPECT_EQ(at(dst, 1, 1), 50);
    EXPECT_EQ(at(dst, 2, 2), 50);
    EXPECT_EQ(dst.ScanLine(2)[9], 0);
    // nothing to draw
    stretchNearest(src, {0, 0, 0, 2}, dst, {0, 0, 3, 3});
    stretchNearest(TDIB(), {0, 0, 2, 2}, dst, {0, 0, 3, 3});
    EXPECT_EQ(at(dst, 0, 0), 0);
}

TEST(StretchAreaAverage, ExactMeansOfCoveredAreas)
{
    // an integer reduction: each target pixel is the rounded mean of 2 x 2
    TDIB src = raster(4, 2);
    fill(src, 0, 0, 10);
    fill(src, 1, 0, 20);
    fill(src, 0, 1, 30);
    fill(src, 1, 1, 41);  // mean 25.25 -> 25
    fill(src, 2, 0, 1);   // mean 0.25 -> 0; 2 would be 0.75 -> 1
    fill(src, 3, 1, 2);
    TDIB dst = raster(2, 1);
    stretchAreaAverage(src, {0, 0, 4, 2}, dst, {0, 0, 2, 1});
    EXPECT_EQ(at(dst, 0, 0), 25);
    EXPECT_EQ(at(dst, 1, 0), 1);

    // 3 into 2: the middle source pixel is shared half and half
    TDIB three = raster(3, 1);
    fill(three, 0, 0, 90);
    fill(three, 1, 0, 30);
    fill(three, 2, 0, 0);
    TDIB two = raster(2, 1);
    stretchAreaAverage(three, {0, 0, 3, 1}, two, {0, 0, 2, 1});
    EXPECT_EQ(at(two, 0, 0), 70);  // (90 * 1 + 30 * 0.5) / 1.5
    EXPECT_EQ(at(two, 1, 0), 10);

    // enlarging by coverage: inside one source pixel copies it
    TDIB one = raster(1, 1);
    fill(one, 0, 0, 77);
    TDIB big = raster(5, 3);
    stretchAreaAverage(one, {0, 0, 1, 1}, big, {0, 0, 5, 3});
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(at(big, x, y), 77);
}

TEST(StretchAreaAverage, UniformColourStaysUniformAtAnyRatio)
{
    for (auto [sw, sh, dw, dh] : {std::array{256, 256, 32, 32}, std::array{7, 5, 3, 2}, std::array{3, 3, 8, 5},
                                  std::array{300, 17, 299, 18}}) {
        TDIB src = raster(sw, sh);
        for (int y = 0; y < sh; ++y) {
            uint8_t* p = src.RowPointer(y);
            for (int x = 0; x < sw; ++x) {
                p[3 * x] = 12;
                p[3 * x + 1] = 200;
                p[3 * x + 2] = 255;
            }
        }
        TDIB dst = raster(dw, dh);
        stretchAreaAverage(src, {0, 0, sw, sh}, dst, {0, 0, dw, dh});
        for (int y = 0; y < dh; ++y)
            for (int x = 0; x < dw; ++x) {
                const uint8_t* p = dst.ScanLine(y) + 3 * x;
                ASSERT_EQ(p[0], 12) << sw << "->" << dw;
                ASSERT_EQ(p[1], 200);
                ASSERT_EQ(p[2], 255);
            }
    }
}

TEST(Canvas, StretchModeIsCanvasState)
{
    TDIB src = raster(2, 1);
    fill(src, 1, 0, 100);
    TDIB dst = raster(1, 1);
    TCanvas& canvas = dst.Canvas();
    EXPECT_EQ(canvas.ClipRect(), (TRect{0, 0, 1, 1}));
    canvas.SetStretchMode(TStretchMode::AreaAverage);
    canvas.CopyRect({0, 0, 1, 1}, src, {0, 0, 2, 1});
    EXPECT_EQ(at(dst, 0, 0), 50);

    // drawing a bitmap graphic selects nearest-pixel and keeps it
    TBitmap bitmap;
    bitmap.Dib() = src;
    canvas.StretchDraw({0, 0, 1, 1}, bitmap);
    EXPECT_EQ(canvas.StretchMode(), TStretchMode::NearestPixel);
    EXPECT_EQ(at(dst, 0, 0), 0);

    // DrawTo uses nearest-pixel and gives the surface its mode back
    canvas.SetStretchMode(TStretchMode::AreaAverage);
    TDIB wide = raster(2, 1);
    wide.Canvas();
    src.DrawTo(wide.Canvas(), {0, 0, 2, 1});
    EXPECT_EQ(at(wide, 1, 0), 100);
    src.DrawTo(canvas, {0, 0, 1, 1});
    EXPECT_EQ(canvas.StretchMode(), TStretchMode::AreaAverage);
    canvas.StretchDraw({0, 0, 1, 1}, src);  // a raster graphic draws through DrawTo
    EXPECT_EQ(canvas.StretchMode(), TStretchMode::AreaAverage);

    // drawing a raster onto itself reads the pixels as they were
    TDIB self = raster(2, 1);
    fill(self, 0, 0, 1);
    fill(self, 1, 0, 2);
    self.Canvas().CopyRect({0, 0, 2, 1}, self, {1, 0, 2, 1});
    EXPECT_EQ(at(self, 0, 0), 2);
    EXPECT_EQ(at(self, 1, 0), 2);
}
