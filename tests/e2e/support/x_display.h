#pragma once

// A private X display for tests that look at windows: an Xvfb server
// started for the test and stopped with it, and screenshots of it.

#include "support/gif_picture.h"

#include <string>
#include <sys/types.h>
#include <vector>

struct _XDisplay;

namespace e2e {

struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    // Writes the rectangle as a PNG file; false when it cannot.
    bool savePng(const std::string& path, int left, int top, int right, int bottom) const;
};

class XDisplay {
public:
    static constexpr int width = 800;
    static constexpr int height = 600;

    // Starts Xvfb on a display number it picks itself; running() tells
    // whether that worked.
    XDisplay();
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    bool running() const { return connection_ != nullptr; }
    const std::string& name() const { return name_; } // ":N"
    Screenshot capture() const;

private:
    pid_t server_ = -1;
    std::string name_;
    // Held open for the test's life: the server ends when its last client
    // goes, so a test that crashes does not leave it behind.
    _XDisplay* connection_ = nullptr;
};

} // namespace e2e
