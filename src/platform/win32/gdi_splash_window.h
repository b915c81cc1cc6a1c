#pragma once

#include <memory>

namespace talve {

class SplashWindow;

// A splash window drawn with USER32, GDI and GDI+.
std::unique_ptr<SplashWindow> makeGdiSplashWindow();

} // namespace talve
