#include "platform/splash_window.h"

#include <gtest/gtest.h>

namespace talve {
namespace {

TEST(SplashLayout, CentresPictureAndBandRoundingHalvesDown) {
    SplashLayout even = splashLayout(400, 300, 1024, 768);
    EXPECT_EQ(even.windowWidth, 400);
    EXPECT_EQ(even.windowHeight, 340);
    EXPECT_EQ(even.windowX, 312); // (1024 - 400 + 1) / 2
    EXPECT_EQ(even.windowY, 214); // (768 - 340 + 1) / 2

    SplashLayout odd = splashLayout(201, 120, 800, 600);
    EXPECT_EQ(odd.windowX, 300);
    EXPECT_EQ(odd.windowY, 220);

    // A picture wider than the desktop overhangs both sides alike.
    SplashLayout wide = splashLayout(1000, 100, 800, 600);
    EXPECT_EQ(wide.windowX, -100);
    SplashLayout wider = splashLayout(1002, 100, 800, 600);
    EXPECT_EQ(wider.windowX, -101);
}

TEST(SplashLayout, BandAndTextSitUnderThePicture) {
    SplashLayout layout = splashLayout(200, 120, 800, 600);
    EXPECT_EQ(layout.bandLeft, 2);
    EXPECT_EQ(layout.bandTop, 122);
    EXPECT_EQ(layout.bandRight, 198);
    EXPECT_EQ(layout.bandBottom, 158);
    EXPECT_EQ(layout.textX, 5);
    EXPECT_EQ(layout.textY, 133);
}

TEST(SplashPictureRefusal, RefusesPicturesLargerThanTheScreenOrTheLimit) {
    EXPECT_EQ(splashPictureRefusal(800, 600, 800, 600), "");
    EXPECT_EQ(splashPictureRefusal(801, 10, 800, 600),
              "(the picture of 801 x 10 pixels is larger than the screen of 800 x 600)");
    EXPECT_NE(splashPictureRefusal(10, 601, 800, 600), "");
    // However large the screen.
    EXPECT_EQ(splashPictureRefusal(largestSplashPictureSide, 100, 20000, 20000), "");
    EXPECT_EQ(splashPictureRefusal(18000, 18000, 20000, 20000),
              "(the picture of 18000 x 18000 pixels is larger than 8192 pixels a side)");
    EXPECT_NE(splashPictureRefusal(0, 100, 800, 600), "");
}

} // namespace
} // namespace talve
