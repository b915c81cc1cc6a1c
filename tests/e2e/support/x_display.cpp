#include "support/x_display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

extern char** environ;

namespace e2e {

XDisplay::XDisplay() {
    int channel[2];
    if (pipe(channel) != 0) return;
    const std::string fd = std::to_string(channel[1]);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::vector<std::string> argv{"Xvfb", "-displayfd", fd, "-screen", "0", screen, "-nolisten", "tcp", "-terminate"};
    std::vector<char*> args;
    for (std::string& s : argv) args.push_back(s.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, channel[0]);
    const int failure = posix_spawnp(&server_, "Xvfb", &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(channel[1]);
    if (failure != 0) {
        server_ = -1;
        close(channel[0]);
        return;
    }
    // Xvfb writes the display number once it accepts connections.
    std::string number;
    pollfd wait{channel[0], POLLIN, 0};
    char c;
    while (poll(&wait, 1, 10000) > 0 && read(channel[0], &c, 1) == 1 && c != '\n') number += c;
    close(channel[0]);
    if (number.empty()) return;
    name_ = ":" + number;
    connection_ = XOpenDisplay(name_.c_str());
}

XDisplay::~XDisplay() {
    if (connection_ != nullptr) XCloseDisplay(connection_);
    if (server_ <= 0) return;
    kill(server_, SIGTERM);
    int status = 0;
    while (waitpid(server_, &status, 0) < 0 && errno == EINTR) {
    }
}

Screenshot XDisplay::capture() const {
    Screenshot shot;
    Display* display = connection_;
    if (display == nullptr) return shot;
    Window root = DefaultRootWindow(display);
    XImage* image = XGetImage(display, root, 0, 0, width, height, AllPlanes, ZPixmap);
    if (image != nullptr) {
        shot.width = width;
        shot.height = height;
        shot.pixels.reserve(static_cast<std::size_t>(width) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                shot.pixels.push_back(Rgb{static_cast<std::uint8_t>((pixel >> 16) & 0xFF),
                                          static_cast<std::uint8_t>((pixel >> 8) & 0xFF),
                                          static_cast<std::uint8_t>(pixel & 0xFF)});
            }
        XDestroyImage(image);
    }
    return shot;
}

bool Screenshot::savePng(const std::string& path, int left, int top, int right, int bottom) const {
    std::vector<unsigned char> rgb;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            const Rgb pixel = at(x, y);
            rgb.insert(rgb.end(), {pixel.red, pixel.green, pixel.blue});
        }
    return stbi_write_png(path.c_str(), right - left, bottom - top, 3, rgb.data(), (right - left) * 3) != 0;
}

} // namespace e2e
