#include "unit/support/fake_splash_window.h"

namespace talve {
namespace test {

bool FakeSplashScene::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, condition);
}

std::vector<std::string> FakeSplashScene::stepsSoFar() {
    std::lock_guard<std::mutex> lock(mutex_);
    return steps;
}

std::vector<std::string> FakeSplashScene::paintedSoFar() {
    std::lock_guard<std::mutex> lock(mutex_);
    return painted;
}

bool FakeSplashScene::isVisible() {
    std::lock_guard<std::mutex> lock(mutex_);
    return visible;
}

void FakeSplashScene::record(const std::function<void()>& change) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change();
    }
    changed_.notify_all();
}

void FakeSplashScene::release() {
    record([this] { released_ = true; });
}

void FakeSplashScene::holdIfAsked(const std::string& step) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (holdAt == step) changed_.wait(lock, [this] { return released_; });
}

bool FakeSplashWindow::loadImage(const std::string& path) {
    scene_->holdIfAsked("load");
    bool loads = false;
    scene_->record([&] {
        scene_->steps.push_back("load " + path);
        loads = scene_->imageLoads;
    });
    return loads;
}

bool FakeSplashWindow::registerClass() {
    bool registers = false;
    scene_->record([&] {
        scene_->steps.push_back("register");
        registers = scene_->classRegisters;
    });
    return registers;
}

bool FakeSplashWindow::createWindow(const std::string& caption, std::function<std::string()> text,
                                    std::string& reason) {
    scene_->holdIfAsked("create");
    text_ = std::move(text);
    bool creates = false;
    scene_->record([&] {
        scene_->steps.push_back("create " + caption);
        creates = scene_->windowCreates;
        if (!creates) reason = scene_->createFailureReason;
    });
    return creates;
}

void FakeSplashWindow::present() {
    // The text is read outside the scene's lock, as a real paint would.
    const std::string line = text_();
    scene_->record([&] {
        scene_->steps.push_back("present");
        scene_->painted.push_back(line);
        scene_->visible = true;
    });
}

bool FakeSplashWindow::handleNextEvent() {
    {
        std::unique_lock<std::mutex> lock(scene_->mutex_);
        scene_->changed_.wait(lock, [&] { return scene_->wakeUps_ > wakeUpsSeen_; });
        wakeUpsSeen_ = scene_->wakeUps_;
    }
    const std::string line = text_();
    scene_->record([&] { scene_->painted.push_back(line); });
    return true;
}

void FakeSplashWindow::wake() {
    scene_->record([&] { ++scene_->wakeUps_; });
}

void FakeSplashWindow::close() {
    scene_->record([&] {
        scene_->steps.push_back("close");
        scene_->visible = false;
    });
}

} // namespace test
} // namespace talve
