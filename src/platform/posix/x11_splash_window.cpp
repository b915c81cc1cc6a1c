// The splash window on X11. libX11 is opened at run time so that the
// launcher still starts on a server without any X library; only the splash
// thread ever calls into it.

#include "platform/posix/x11_splash_window.h"

#include "platform/posix/picture_decoder.h"
#include "platform/splash_window.h"
#include "platform/system_threads.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>

#include <chrono>
#include <cstdio>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace talve {

namespace {

// The calls the splash needs, looked up in libX11.so.6.
struct X11Calls {
    decltype(&::XOpenDisplay) openDisplay = nullptr;
    decltype(&::XCloseDisplay) closeDisplay = nullptr;
    decltype(&::XDefaultScreen) defaultScreen = nullptr;
    decltype(&::XRootWindow) rootWindow = nullptr;
    decltype(&::XDisplayWidth) displayWidth = nullptr;
    decltype(&::XDisplayHeight) displayHeight = nullptr;
    decltype(&::XDefaultVisual) defaultVisual = nullptr;
    decltype(&::XDefaultDepth) defaultDepth = nullptr;
    decltype(&::XDefaultColormap) defaultColormap = nullptr;
    decltype(&::XCreateWindow) createWindow = nullptr;
    decltype(&::XDestroyWindow) destroyWindow = nullptr;
    decltype(&::XInternAtom) internAtom = nullptr;
    decltype(&::XChangeProperty) changeProperty = nullptr;
    decltype(&::XStoreName) storeName = nullptr;
    decltype(&::XSetWMProtocols) setWMProtocols = nullptr;
    decltype(&::XGetSelectionOwner) getSelectionOwner = nullptr;
    decltype(&::XMapRaised) mapRaised = nullptr;
    decltype(&::XCreateFontCursor) createFontCursor = nullptr;
    decltype(&::XCreateGC) createGC = nullptr;
    decltype(&::XFreeGC) freeGC = nullptr;
    decltype(&::XSetForeground) setForeground = nullptr;
    decltype(&::XFillRectangle) fillRectangle = nullptr;
    decltype(&::XCreateImage) createImage = nullptr;
    decltype(&::XPutImage) putImage = nullptr;
    decltype(&::XLoadQueryFont) loadQueryFont = nullptr;
    decltype(&::XSetFont) setFont = nullptr;
    decltype(&::XDrawString) drawString = nullptr;
    decltype(&::XFreeFont) freeFont = nullptr;
    decltype(&::XFlush) flush = nullptr;
    decltype(&::XSync) sync = nullptr;
    decltype(&::XPending) pending = nullptr;
    decltype(&::XNextEvent) nextEvent = nullptr;
    decltype(&::XConnectionNumber) connectionNumber = nullptr;
    decltype(&::XSetErrorHandler) setErrorHandler = nullptr;
    decltype(&::XSetIOErrorHandler) setIOErrorHandler = nullptr;

    // Empty on success, else why the library cannot be used.
    std::string load() {
        // Never unloaded: the sleeping splash thread may still be inside it.
        void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* error = dlerror();
            return error != nullptr ? error : "libX11.so.6 cannot be loaded";
        }
        std::string missing;
        auto bind = [&](auto& call, const char* name) {
            void* found = dlsym(library, name);
            if (found == nullptr) missing += std::string(missing.empty() ? "" : ", ") + name;
            call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(found);
        };
        bind(openDisplay, "XOpenDisplay");
        bind(closeDisplay, "XCloseDisplay");
        bind(defaultScreen, "XDefaultScreen");
        bind(rootWindow, "XRootWindow");
        bind(displayWidth, "XDisplayWidth");
        bind(displayHeight, "XDisplayHeight");
        bind(defaultVisual, "XDefaultVisual");
        bind(defaultDepth, "XDefaultDepth");
        bind(defaultColormap, "XDefaultColormap");
        bind(createWindow, "XCreateWindow");
        bind(destroyWindow, "XDestroyWindow");
        bind(internAtom, "XInternAtom");
        bind(changeProperty, "XChangeProperty");
        bind(storeName, "XStoreName");
        bind(setWMProtocols, "XSetWMProtocols");
        bind(getSelectionOwner, "XGetSelectionOwner");
        bind(mapRaised, "XMapRaised");
        bind(createFontCursor, "XCreateFontCursor");
        bind(createGC, "XCreateGC");
        bind(freeGC, "XFreeGC");
        bind(setForeground, "XSetForeground");
        bind(fillRectangle, "XFillRectangle");
        bind(createImage, "XCreateImage");
        bind(putImage, "XPutImage");
        bind(loadQueryFont, "XLoadQueryFont");
        bind(setFont, "XSetFont");
        bind(drawString, "XDrawString");
        bind(freeFont, "XFreeFont");
        bind(flush, "XFlush");
        bind(sync, "XSync");
        bind(pending, "XPending");
        bind(nextEvent, "XNextEvent");
        bind(connectionNumber, "XConnectionNumber");
        bind(setErrorHandler, "XSetErrorHandler");
        bind(setIOErrorHandler, "XSetIOErrorHandler");
        return missing.empty() ? std::string() : "libX11.so.6 lacks " + missing;
    }
};

// A protocol error must not end the installation, which is what Xlib's own
// handler does; the splash simply looks wrong or fails its check.
int ignoreProtocolError(Display*, XErrorEvent*) { return 0; }

// Xlib ends the process when this handler returns. The connection is used
// by the splash thread alone, so parking that thread keeps the installation
// going without its splash.
int parkOnLostConnection(Display*) {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(10));
}

// One colour channel of a true-colour visual.
struct Channel {
    unsigned long mask = 0;
    int shift = 0;
    unsigned long maximum = 0;

    explicit Channel(unsigned long channelMask) : mask(channelMask) {
        if (mask == 0) return;
        while (((mask >> shift) & 1u) == 0) ++shift;
        maximum = mask >> shift;
    }
    unsigned long encode(unsigned value) const { return ((value * maximum + 127) / 255) << shift; }
};

unsigned blend(unsigned colour, unsigned alpha, unsigned background) {
    return (colour * alpha + background * (255 - alpha) + 127) / 255;
}

constexpr int fadeSteps = 10;
constexpr std::chrono::milliseconds fadeDuration{200};

// How long a display may take to answer the connection. The splash must
// never hold up the installation, and a local or forwarded server answers
// within a few round trips.
constexpr std::chrono::milliseconds displayAnswerLimit{1000};

// One attempt to connect, shared by the splash thread and the thread that
// makes it: whichever of them finishes with it last frees it.
struct PendingConnection {
    SystemLock lock;
    SystemCondition answered;
    bool finished = false;
    bool abandoned = false;
    Display* display = nullptr;
};

// XOpenDisplay waits without end for a server that accepts the connection
// and never answers (a hung server, a dead forwarding), so it runs on a
// thread of its own; after the limit the splash gives up on it, and the
// thread closes whatever it still gets.
Display* openDisplayWithin(const X11Calls& x, const std::string& name, std::chrono::milliseconds limit,
                           std::string& problem) {
    auto pending = std::make_shared<PendingConnection>();
    auto openDisplay = x.openDisplay;
    auto closeDisplay = x.closeDisplay;
    const bool started = startDetachedThread([pending, name, openDisplay, closeDisplay] {
        Display* display = openDisplay(name.c_str());
        bool abandoned = false;
        {
            std::lock_guard<SystemLock> guard(pending->lock);
            abandoned = pending->abandoned;
            pending->display = display;
            pending->finished = true;
        }
        pending->answered.notifyAll();
        if (abandoned && display != nullptr) closeDisplay(display);
    });
    if (!started) {
        problem = "(no thread to connect to display " + name + " with)";
        return nullptr;
    }
    std::lock_guard<SystemLock> guard(pending->lock);
    if (!pending->answered.waitFor(pending->lock, limit, [&] { return pending->finished; })) {
        pending->abandoned = true;
        problem = "(display " + name + " did not answer within " + std::to_string(limit.count()) + " ms)";
        return nullptr;
    }
    if (pending->display == nullptr) problem = "(cannot connect to display " + name + ")";
    return pending->display;
}

class X11SplashWindow final : public SplashWindow {
public:
    explicit X11SplashWindow(std::string displayName) : displayName_(std::move(displayName)) {
        if (pipe(wakePipe_) == 0) {
            for (int fd : wakePipe_) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            for (int fd : wakePipe_) fcntl(fd, F_SETFD, FD_CLOEXEC);
        } else {
            wakePipe_[0] = wakePipe_[1] = -1;
        }
    }

    ~X11SplashWindow() override {
        close();
        for (int fd : wakePipe_)
            if (fd >= 0) ::close(fd);
    }

    // The display comes first, and the picture's size before its pixels:
    // nothing is decoded for a window that cannot be shown. A display that
    // cannot be used is reported when the window is made, as it always was.
    bool loadImage(const std::string& path) override {
        problem_ = connect();
        if (!problem_.empty()) return true;
        std::FILE* file = std::fopen(path.c_str(), "rbe");
        if (file == nullptr) return false;
        int width = 0, height = 0;
        bool loaded = readPictureSize(file, width, height);
        if (loaded) {
            const int screen = x_.defaultScreen(display_);
            // A refused picture is one that cannot be shown, as a damaged one.
            loaded = splashPictureRefusal(width, height, x_.displayWidth(display_, screen),
                                          x_.displayHeight(display_, screen))
                         .empty() &&
                     decodePicture(file, width, height, picture_);
        }
        std::fclose(file);
        return loaded;
    }

    // X has no window classes to register.
    bool registerClass() override { return true; }

    bool createWindow(const std::string& caption, std::function<std::string()> text, std::string& reason) override {
        text_ = std::move(text);
        if (!problem_.empty()) return failWith(reason, problem_);
        const int screen = x_.defaultScreen(display_);
        layout_ = splashLayout(picture_.width, picture_.height, x_.displayWidth(display_, screen),
                               x_.displayHeight(display_, screen));

        XSetWindowAttributes attributes{};
        attributes.background_pixel = rgb(splashGrey, splashGrey, splashGrey);
        // No window manager may frame, move or close it.
        attributes.override_redirect = True;
        attributes.event_mask = ExposureMask | StructureNotifyMask;
        attributes.cursor = x_.createFontCursor(display_, XC_watch);
        attributes.colormap = x_.defaultColormap(display_, screen);
        window_ = x_.createWindow(display_, x_.rootWindow(display_, screen), layout_.windowX, layout_.windowY,
                                  static_cast<unsigned>(layout_.windowWidth),
                                  static_cast<unsigned>(layout_.windowHeight), 0, depth_, InputOutput, visual_,
                                  CWBackPixel | CWOverrideRedirect | CWEventMask | CWCursor | CWColormap, &attributes);
        if (window_ == 0) return failWith(reason, "(the display refused the window)");

        x_.storeName(display_, window_, caption.c_str());
        Atom windowType = x_.internAtom(display_, "_NET_WM_WINDOW_TYPE", False);
        Atom splashType = x_.internAtom(display_, "_NET_WM_WINDOW_TYPE_SPLASH", False);
        x_.changeProperty(display_, window_, windowType, XA_ATOM, 32, PropModeReplace,
                          reinterpret_cast<unsigned char*>(&splashType), 1);
        // A close request from anywhere arrives as a message the loop ignores.
        Atom deleteWindow = x_.internAtom(display_, "WM_DELETE_WINDOW", False);
        x_.setWMProtocols(display_, window_, &deleteWindow, 1);

        gc_ = x_.createGC(display_, window_, 0, nullptr);
        font_ = x_.loadQueryFont(display_, "-*-helvetica-medium-r-normal--12-*-*-*-*-*-*-*");
        if (font_ == nullptr) font_ = x_.loadQueryFont(display_, "fixed");
        if (font_ != nullptr) x_.setFont(display_, gc_, font_->fid);
        if (!makeImage()) return failWith(reason, "(no image for the picture)");

        std::string compositor = "_NET_WM_CM_S" + std::to_string(screen);
        composited_ = x_.getSelectionOwner(display_, x_.internAtom(display_, compositor.c_str(), False)) != 0;
        opacity_ = x_.internAtom(display_, "_NET_WM_WINDOW_OPACITY", False);
        return true;
    }

    void present() override {
        if (composited_) setOpacity(0);
        x_.mapRaised(display_, window_);
        x_.sync(display_, False);
        draw();
        // Only a compositor blends windows; without one the window is simply there.
        if (composited_) {
            for (int step = 1; step <= fadeSteps; ++step) {
                std::this_thread::sleep_for(fadeDuration / fadeSteps);
                setOpacity(static_cast<unsigned long>(0xFFFFFFFFull * step / fadeSteps));
            }
        }
        x_.sync(display_, False);
    }

    bool handleNextEvent() override {
        for (;;) {
            if (x_.pending(display_) > 0) {
                XEvent event;
                x_.nextEvent(display_, &event);
                if (event.type == Expose && event.xexpose.count == 0) draw();
                if (event.type == DestroyNotify && event.xdestroywindow.window == window_) {
                    window_ = 0;
                    return false;
                }
                return true;
            }
            pollfd waits[2] = {{x_.connectionNumber(display_), POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
            if (poll(waits, 2, -1) < 0) continue;
            if (waits[1].revents != 0) {
                char drained[64];
                while (read(wakePipe_[0], drained, sizeof drained) > 0) {
                }
                // Woken for a new text or a close request: repaint, and let
                // the caller look at what was asked.
                draw();
                return true;
            }
        }
    }

    void wake() override {
        if (wakePipe_[1] < 0) return;
        const char byte = 1;
        // A full pipe already holds a wake-up.
        ssize_t ignored = write(wakePipe_[1], &byte, 1);
        (void)ignored;
    }

    void close() override {
        if (display_ == nullptr) return;
        if (font_ != nullptr) x_.freeFont(display_, font_);
        if (gc_ != nullptr) x_.freeGC(display_, gc_);
        if (window_ != 0) x_.destroyWindow(display_, window_);
        if (image_ != nullptr) {
            image_->data = nullptr; // owned by picture_
            XDestroyImage(image_);
        }
        x_.closeDisplay(display_);
        display_ = nullptr;
        font_ = nullptr;
        gc_ = nullptr;
        window_ = 0;
        image_ = nullptr;
        picture_.rgba.reset();
    }

private:
    // Empty once the display is there and can show the picture in true colour.
    std::string connect() {
        if (displayName_.empty()) return "(DISPLAY is not set)";
        if (wakePipe_[0] < 0) return "(no pipe to wake the window)";
        const std::string unusable = x_.load();
        if (!unusable.empty()) return "(" + unusable + ")";
        x_.setErrorHandler(ignoreProtocolError);
        x_.setIOErrorHandler(parkOnLostConnection);
        std::string problem;
        display_ = openDisplayWithin(x_, displayName_, displayAnswerLimit, problem);
        if (display_ == nullptr) return problem;

        const int screen = x_.defaultScreen(display_);
        Visual* visual = x_.defaultVisual(display_, screen);
        if (visual->c_class != TrueColor) return "(the display has no true-colour visual)";
        red_ = Channel(visual->red_mask);
        green_ = Channel(visual->green_mask);
        blue_ = Channel(visual->blue_mask);
        depth_ = x_.defaultDepth(display_, screen);
        visual_ = visual;
        return std::string();
    }

    bool failWith(std::string& reason, const std::string& why) {
        reason = why;
        return false;
    }

    unsigned long rgb(unsigned red, unsigned green, unsigned blue) const {
        return red_.encode(red) | green_.encode(green) | blue_.encode(blue);
    }

    // The picture in the display's own pixel format, laid on the grey of
    // the window where it is transparent. Written over the decoded pixels,
    // front to back: no pixel of the display takes more than four bytes, so
    // each lands where the picture's own pixels have already been read.
    bool makeImage() {
        const int bitsPerPixel = depth_ > 16 ? 32 : (depth_ > 8 ? 16 : 8);
        image_ = x_.createImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                                static_cast<unsigned>(picture_.width), static_cast<unsigned>(picture_.height),
                                bitsPerPixel, 0);
        if (image_ == nullptr) return false;
        if (image_->bits_per_pixel > 32 || image_->bytes_per_line > picture_.width * 4) return false;
        unsigned char* pixels = picture_.rgba.get();
        image_->data = reinterpret_cast<char*>(pixels);
        const unsigned char* source = pixels;
        for (int y = 0; y < picture_.height; ++y) {
            for (int x = 0; x < picture_.width; ++x, source += 4) {
                const unsigned alpha = source[3];
                const unsigned long pixel = rgb(blend(source[0], alpha, splashGrey), blend(source[1], alpha, splashGrey),
                                                blend(source[2], alpha, splashGrey));
                XPutPixel(image_, x, y, pixel);
            }
        }
        return true;
    }

    void draw() {
        if (display_ == nullptr || window_ == 0) return;
        x_.putImage(display_, window_, gc_, image_, 0, 0, 0, 0, static_cast<unsigned>(picture_.width),
                    static_cast<unsigned>(picture_.height));
        x_.setForeground(display_, gc_, rgb(splashGrey, splashGrey, splashGrey));
        x_.fillRectangle(display_, window_, gc_, layout_.bandLeft, layout_.bandTop,
                         static_cast<unsigned>(layout_.bandRight - layout_.bandLeft),
                         static_cast<unsigned>(layout_.bandBottom - layout_.bandTop));
        if (font_ != nullptr) {
            const std::string line = text_ ? text_() : std::string();
            x_.setForeground(display_, gc_, rgb(0, 0, 0));
            // X places text by its baseline, the window's layout by its top.
            x_.drawString(display_, window_, gc_, layout_.textX, layout_.textY + font_->ascent, line.c_str(),
                          static_cast<int>(line.size()));
        }
        x_.flush(display_);
    }

    void setOpacity(unsigned long opacity) {
        x_.changeProperty(display_, window_, opacity_, XA_CARDINAL, 32, PropModeReplace,
                          reinterpret_cast<unsigned char*>(&opacity), 1);
        x_.flush(display_);
    }

    std::string displayName_;
    int wakePipe_[2] = {-1, -1};
    std::string problem_; // why no window can be made, found before it is asked for
    Picture picture_;
    std::function<std::string()> text_;
    X11Calls x_;
    Display* display_ = nullptr;
    Visual* visual_ = nullptr;
    int depth_ = 0;
    Channel red_{0}, green_{0}, blue_{0};
    SplashLayout layout_;
    Window window_ = 0;
    GC gc_ = nullptr;
    XFontStruct* font_ = nullptr;
    XImage* image_ = nullptr;
    bool composited_ = false;
    Atom opacity_ = 0;
};

} // namespace

std::unique_ptr<SplashWindow> makeX11SplashWindow(const std::string& displayName) {
    return std::make_unique<X11SplashWindow>(displayName);
}

} // namespace talve
