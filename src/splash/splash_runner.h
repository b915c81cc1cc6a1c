#pragma once

namespace talve {

// Owner of the splash window's thread. The window itself is not shown yet;
// the runner exists so that the jar launch can close and drop it.
class SplashRunner {
public:
    virtual ~SplashRunner() = default;
    virtual void requestClose() {}
};

} // namespace talve
