// The splash window on Windows: USER32 and GDI for the window, the band and
// the text, the GDI+ flat API for the picture. gdiplus.dll is loaded by its
// full path in the system folder: the launcher runs elevated from download
// folders, where a planted gdiplus.dll must never be picked up.

#include "platform/win32/gdi_splash_window.h"

#include "platform/splash_window.h"

#include <windows.h>

#include <atomic>
#include <vector>

namespace talve {

namespace {

// The few GDI+ flat API types the splash needs, as gdiplus.dll exports them.
struct GdiplusStartupInput {
    UINT32 GdiplusVersion = 1;
    void* DebugEventCallback = nullptr;
    BOOL SuppressBackgroundThread = FALSE;
    BOOL SuppressExternalCodecs = FALSE;
};
using GpStatus = int;
constexpr GpStatus gdiplusOk = 0;
struct GpImage;
struct GpGraphics;

using StartupFunction = GpStatus(WINAPI*)(ULONG_PTR*, const GdiplusStartupInput*, void*);
using ShutdownFunction = void(WINAPI*)(ULONG_PTR);
using LoadImageFunction = GpStatus(WINAPI*)(const WCHAR*, GpImage**);
using DisposeImageFunction = GpStatus(WINAPI*)(GpImage*);
using ImageSizeFunction = GpStatus(WINAPI*)(GpImage*, UINT*);
using CreateGraphicsFunction = GpStatus(WINAPI*)(HDC, GpGraphics**);
using DeleteGraphicsFunction = GpStatus(WINAPI*)(GpGraphics*);
using DrawImageFunction = GpStatus(WINAPI*)(GpGraphics*, GpImage*, INT, INT, INT, INT);

template <typename Function> Function lookUp(HMODULE module, const char* name) {
    // Through void(*)(void), the one function type GCC lets pass unwarned.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

struct Gdiplus {
    HMODULE module = nullptr;
    StartupFunction startup = nullptr;
    ShutdownFunction shutdown = nullptr;
    LoadImageFunction loadImage = nullptr;
    DisposeImageFunction disposeImage = nullptr;
    ImageSizeFunction imageWidth = nullptr;
    ImageSizeFunction imageHeight = nullptr;
    CreateGraphicsFunction createGraphics = nullptr;
    DeleteGraphicsFunction deleteGraphics = nullptr;
    DrawImageFunction drawImage = nullptr;

    bool load() {
        if (module != nullptr) return true;
        char system[MAX_PATH];
        UINT length = GetSystemDirectoryA(system, MAX_PATH);
        if (length == 0 || length >= MAX_PATH - 13) return false;
        module = LoadLibraryA((std::string(system, length) + "\\gdiplus.dll").c_str());
        if (module == nullptr) return false;
        startup = lookUp<StartupFunction>(module, "GdiplusStartup");
        shutdown = lookUp<ShutdownFunction>(module, "GdiplusShutdown");
        loadImage = lookUp<LoadImageFunction>(module, "GdipLoadImageFromFile");
        disposeImage = lookUp<DisposeImageFunction>(module, "GdipDisposeImage");
        imageWidth = lookUp<ImageSizeFunction>(module, "GdipGetImageWidth");
        imageHeight = lookUp<ImageSizeFunction>(module, "GdipGetImageHeight");
        createGraphics = lookUp<CreateGraphicsFunction>(module, "GdipCreateFromHDC");
        deleteGraphics = lookUp<DeleteGraphicsFunction>(module, "GdipDeleteGraphics");
        drawImage = lookUp<DrawImageFunction>(module, "GdipDrawImageRectI");
        return startup && shutdown && loadImage && disposeImage && imageWidth && imageHeight && createGraphics &&
               deleteGraphics && drawImage;
    }
};

constexpr const char* windowClassName = "ClassName";
constexpr COLORREF grey = RGB(splashGrey, splashGrey, splashGrey);

class GdiSplashWindow final : public SplashWindow {
public:
    ~GdiSplashWindow() override { close(); }

    bool loadImage(const std::string& path) override {
        if (!gdiplus_.load()) return false;
        if (gdiplus_.startup(&token_, &startupInput_, nullptr) != gdiplusOk) return false;
        started_ = true;
        int wideLength = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
        if (wideLength <= 0) return false;
        std::vector<WCHAR> widePath(static_cast<std::size_t>(wideLength));
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath.data(), wideLength);
        if (gdiplus_.loadImage(widePath.data(), &image_) != gdiplusOk) {
            image_ = nullptr;
            return false;
        }
        UINT width = 0, height = 0;
        gdiplus_.imageWidth(image_, &width);
        gdiplus_.imageHeight(image_, &height);
        width_ = static_cast<int>(width);
        height_ = static_cast<int>(height);
        // A picture larger than the screen cannot be shown, as a damaged one.
        RECT desktop{};
        GetWindowRect(GetDesktopWindow(), &desktop);
        return splashPictureRefusal(width_, height_, desktop.right - desktop.left, desktop.bottom - desktop.top).empty();
    }

    bool registerClass() override {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = windowProcedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hCursor = LoadCursor(nullptr, IDC_APPSTARTING);
        windowClass.hbrBackground = CreateSolidBrush(grey);
        windowClass.lpszClassName = windowClassName;
        return RegisterClassA(&windowClass) != 0;
    }

    bool createWindow(const std::string& caption, std::function<std::string()> text, std::string&) override {
        text_ = std::move(text);
        RECT desktop{};
        GetWindowRect(GetDesktopWindow(), &desktop);
        layout_ = splashLayout(width_, height_, desktop.right - desktop.left, desktop.bottom - desktop.top);
        HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, windowClassName, caption.c_str(), WS_POPUP | WS_DLGFRAME,
                                      layout_.windowX, layout_.windowY, layout_.windowWidth, layout_.windowHeight,
                                      nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        window_ = window;
        return window != nullptr;
    }

    void present() override {
        HWND window = window_;
        SetFocus(window);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        AnimateWindow(window, 200, AW_BLEND);
    }

    bool handleNextEvent() override {
        MSG message;
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) return false;
        if (got > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        return true;
    }

    void wake() override {
        // Never with a null handle: that would repaint the whole desktop.
        HWND window = window_;
        if (window != nullptr) RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_NOERASE);
    }

    void close() override {
        HWND window = window_.exchange(nullptr);
        if (window != nullptr) {
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            DestroyWindow(window);
        }
        if (image_ != nullptr) gdiplus_.disposeImage(image_);
        image_ = nullptr;
        if (started_) gdiplus_.shutdown(token_);
        started_ = false;
    }

private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<GdiSplashWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self == nullptr) return DefWindowProcA(window, message, wParam, lParam);
        switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC context = BeginPaint(window, &paint);
            self->draw(context);
            EndPaint(window, &paint);
            ValidateRect(window, nullptr);
            return 0;
        }
        case WM_PRINTCLIENT:
            self->draw(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_CLOSE: // the user cannot close the splash
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_USER:
            DestroyWindow(window);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
        }
    }

    void draw(HDC context) {
        if (image_ != nullptr) {
            GpGraphics* graphics = nullptr;
            if (gdiplus_.createGraphics(context, &graphics) == gdiplusOk) {
                gdiplus_.drawImage(graphics, image_, 0, 0, width_, height_);
                gdiplus_.deleteGraphics(graphics);
            }
        }
        RECT band{layout_.bandLeft, layout_.bandTop, layout_.bandRight, layout_.bandBottom};
        HBRUSH brush = CreateSolidBrush(grey);
        FillRect(context, &band, brush);
        DeleteObject(brush);

        HFONT font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_ONLY_PRECIS,
                                 CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, "Arial");
        HGDIOBJ previousFont = SelectObject(context, font);
        SetTextColor(context, RGB(0, 0, 0));
        SetBkColor(context, grey);
        const std::string line = text_ ? text_() : std::string();
        RECT textBox{layout_.textX, layout_.textY, layout_.bandRight, layout_.bandBottom};
        DrawTextA(context, line.c_str(), static_cast<int>(line.size()), &textBox, DT_SINGLELINE | DT_LEFT);
        SelectObject(context, previousFont);
        DeleteObject(font);
    }

    Gdiplus gdiplus_;
    GdiplusStartupInput startupInput_;
    ULONG_PTR token_ = 0;
    bool started_ = false;
    GpImage* image_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    SplashLayout layout_;
    std::function<std::string()> text_;
    // Read by wake() on the main thread.
    std::atomic<HWND> window_{nullptr};
};

} // namespace

std::unique_ptr<SplashWindow> makeGdiSplashWindow() { return std::make_unique<GdiSplashWindow>(); }

} // namespace talve
