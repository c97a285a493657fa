// Where a paint box puts its raster and how large the overview is, without
// any window.
#include <gtest/gtest.h>

#include "app/overview_fit.h"
#include "raster/paint_placement.h"

namespace tsx {
namespace {

const PaintBoxOptions kOverview{ true, true, true, false };  // and both previews
const PaintBoxOptions kMainView{};

TEST(PaintPlacement, PlacesAsTheFourSwitchesSay)
{
    // shrunk to fit and centred, natural size and centred, and at 0,0 without Center
    EXPECT_EQ(placeRaster(400, 100, 200, 200, kOverview), (PaintPlacement{ 0, 75, 200, 50, true }));
    EXPECT_EQ(placeRaster(100, 100, 200, 200, kOverview), (PaintPlacement{ 50, 50, 100, 100, false }));
    PaintBoxOptions noCentre = kOverview;
    noCentre.center = false;
    EXPECT_EQ(placeRaster(400, 100, 200, 200, noCentre), (PaintPlacement{ 0, 0, 200, 50, true }));
    EXPECT_EQ(placeRaster(100, 100, 200, 200, noCentre), (PaintPlacement{ 0, 0, 100, 100, false }));

    // the main view never scales, whatever the client
    EXPECT_EQ(placeRaster(20480, 20480, 597, 338, kMainView), (PaintPlacement{ 0, 0, 20480, 20480, false }));

    // Stretch without KeepAspect fills the client; with it, fits
    PaintBoxOptions stretch{ false, false, false, true };
    EXPECT_EQ(placeRaster(10, 10, 30, 20, stretch), (PaintPlacement{ 0, 0, 30, 20, true }));
    stretch.keepAspect = true;
    EXPECT_EQ(placeRaster(10, 10, 30, 20, stretch), (PaintPlacement{ 0, 0, 20, 20, true }));
    // KeepAspect means nothing while AutoStretch is on
    PaintBoxOptions autoNoAspect{ true, false, false, false };
    EXPECT_EQ(placeRaster(400, 100, 200, 200, autoNoAspect), (PaintPlacement{ 0, 0, 200, 50, true }));

    // an empty raster is placed nowhere
    EXPECT_EQ(placeRaster(0, 0, 200, 200, kOverview).width, 0);
}

TEST(PaintPlacement, FittedSizesRoundLikeTheProgram)
{
    // 5 x 0.5 = 2.5 goes to the even 2
    EXPECT_EQ(placeRaster(5, 10, 100, 5, kOverview), (PaintPlacement{ 49, 0, 2, 5, true }));
    // the ratio 1/6 is single precision, so 15 x s lies just above 2.5
    EXPECT_EQ(placeRaster(6, 15, 1, 100, kOverview), (PaintPlacement{ 0, 48, 1, 3, true }));
    EXPECT_EQ(roundHalfEven(3.5), 4);
    EXPECT_EQ(roundHalfEven(4.5), 4);
    EXPECT_EQ(roundHalfEven(-2.5), -2);
}

TEST(OverviewFit, OverviewFitsTheMosaicViewAsComputed)
{
    int w = 0, h = 0;
    EXPECT_TRUE(fitOverview(248, 165, 1024, 512, w, h));
    EXPECT_EQ(w, 248);
    EXPECT_EQ(h, 124);
    EXPECT_TRUE(fitOverview(248, 165, 512, 1024, w, h));
    EXPECT_EQ(w, 82);  // 82.5 truncated
    EXPECT_EQ(h, 165);
    EXPECT_TRUE(fitOverview(200, 100, 400, 200, w, h));  // equal aspect: height first
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 100);
    EXPECT_FALSE(fitOverview(248, 165, 0, 0, w, h));
    EXPECT_FALSE(fitOverview(0, 165, 100, 100, w, h));
    // no 32-bit overflow for a very wide mosaic in a tall window
    EXPECT_TRUE(fitOverview(3000, 4000, 512000, 800, w, h));
    EXPECT_EQ(w, 3000);
    EXPECT_EQ(h, 4);
}


}  // namespace
}  // namespace tsx
