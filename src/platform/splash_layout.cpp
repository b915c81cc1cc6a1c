#include "platform/splash_window.h"

#include <string>

namespace talve {

namespace {
constexpr int bandHeight = 40;

// Rounds down for negative values too: a picture larger than the desktop
// sticks out by the same amount on both sides.
int halfRoundedDown(int value) { return value >= 0 ? value / 2 : -((-value + 1) / 2); }
} // namespace

SplashLayout splashLayout(int pictureWidth, int pictureHeight, int desktopWidth, int desktopHeight) {
    SplashLayout layout;
    layout.windowWidth = pictureWidth;
    layout.windowHeight = pictureHeight + bandHeight;
    layout.windowX = halfRoundedDown(desktopWidth - pictureWidth + 1);
    layout.windowY = halfRoundedDown(desktopHeight - layout.windowHeight + 1);
    layout.bandLeft = 2;
    layout.bandTop = pictureHeight + 2;
    layout.bandRight = pictureWidth - 2;
    layout.bandBottom = pictureHeight + 38;
    layout.textX = 5;
    layout.textY = pictureHeight + 13;
    return layout;
}

std::string splashPictureRefusal(int pictureWidth, int pictureHeight, int screenWidth, int screenHeight) {
    const std::string picture =
        "(the picture of " + std::to_string(pictureWidth) + " x " + std::to_string(pictureHeight) + " pixels";
    if (pictureWidth > largestSplashPictureSide || pictureHeight > largestSplashPictureSide)
        return picture + " is larger than " + std::to_string(largestSplashPictureSide) + " pixels a side)";
    if (pictureWidth > screenWidth || pictureHeight > screenHeight)
        return picture + " is larger than the screen of " + std::to_string(screenWidth) + " x " +
               std::to_string(screenHeight) + ")";
    if (pictureWidth <= 0 || pictureHeight <= 0) return picture + " is empty)";
    return std::string();
}

} // namespace talve
