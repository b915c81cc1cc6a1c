#pragma once

#include <memory>
#include <string>

namespace talve {

class SplashWindow;

// A splash window on the named X display; an empty name fails when the
// window is created, as does a missing libX11 or an unreachable display.
std::unique_ptr<SplashWindow> makeX11SplashWindow(const std::string& displayName);

} // namespace talve
