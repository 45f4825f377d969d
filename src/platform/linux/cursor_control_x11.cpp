#include "platform/screen_grabber.h"
#include "platform/linux/x11_display.h"

#include <X11/Xlib.h>

#include <mutex>

namespace platform {
namespace {

// One connection of its own, opened on first use; calls may come from any
// thread, one at a time.
class X11CursorControl : public CursorControl {
public:
    ~X11CursorControl() override {
        if (display_) platform::closeX11Display(display_);
    }

    bool cursorPosition(int& x, int& y) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!connect()) return false;
        Window root = DefaultRootWindow(display_), rootReturn = 0, child = 0;
        int winX = 0, winY = 0;
        unsigned int mask = 0;
        return XQueryPointer(display_, root, &rootReturn, &child, &x, &y, &winX, &winY, &mask);
    }

    void moveCursorTo(int x, int y) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!connect()) return;
        XWarpPointer(display_, None, DefaultRootWindow(display_), 0, 0, 0, 0, x, y);
        XFlush(display_);
    }

private:
    bool connect() {
        if (!display_) display_ = platform::openX11Display(nullptr);
        return display_ != nullptr;
    }

    std::mutex mutex_;
    Display* display_ = nullptr;
};

}  // namespace

std::unique_ptr<CursorControl> makeX11CursorControl() { return std::make_unique<X11CursorControl>(); }

}  // namespace platform
