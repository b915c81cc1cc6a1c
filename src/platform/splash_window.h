#pragma once

// The splash window as the operating system draws it. The portable splash
// logic (src/splash) decides when each step runs and what a failure means;
// an implementation only talks to the window system. Every operation except
// wake() runs on the splash thread, which owns the window.

#include <functional>
#include <string>

namespace talve {

// Where the window and its band go, in window coordinates for the band and
// text and desktop coordinates for the window; the same on every system.
struct SplashLayout {
    int windowX = 0, windowY = 0, windowWidth = 0, windowHeight = 0;
    int bandLeft = 0, bandTop = 0, bandRight = 0, bandBottom = 0;
    int textX = 0, textY = 0; // top-left corner of the line of text
};

SplashLayout splashLayout(int pictureWidth, int pictureHeight, int desktopWidth, int desktopHeight);

// No splash picture is shown wider or taller than this, whatever the
// screen: it bounds what decoding one may cost.
constexpr int largestSplashPictureSide = 8192;

// Empty when a picture of this size may be shown on this screen; else why
// not, in parentheses. Asked before the picture is decoded.
std::string splashPictureRefusal(int pictureWidth, int pictureHeight, int screenWidth, int screenHeight);

// Light grey of the band and the window's background.
constexpr unsigned char splashGrey = 211;

class SplashWindow {
public:
    virtual ~SplashWindow() = default;

    // Starts the drawing library and decodes the picture; false when the
    // file cannot be read as a picture.
    virtual bool loadImage(const std::string& path) = 0;
    // Makes the window kind known to the system; false when it refuses.
    virtual bool registerClass() = 0;
    // Creates the window, centred, without showing it. text is asked for at
    // every repaint. On failure, reason may say why (empty where the system
    // gives no detail worth showing).
    virtual bool createWindow(const std::string& caption, std::function<std::string()> text, std::string& reason) = 0;
    // Focus and fade-in; the window is visible when it returns.
    virtual void present() = 0;
    // Blocks until the next event has been handled; false once the window
    // has been destroyed and no event will come again.
    virtual bool handleNextEvent() = 0;
    // From any thread: makes a blocked handleNextEvent return soon.
    virtual void wake() = 0;
    // Destroys the window and frees the picture and the drawing library.
    virtual void close() = 0;
};

} // namespace talve
