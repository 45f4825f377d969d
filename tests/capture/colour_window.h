// A window of known colours on a private Xvfb, for capture tests.
#pragma once

#include "common/private_xvfb.h"

#include <X11/Xlib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// A plain Xlib window of solid colour rectangles, mapped above everything
// (override-redirect, so no window manager moves it).
class ColourWindow {
public:
    struct Fill {
        int x, y, width, height;
        unsigned long rgb;  // 0xRRGGBB
    };

    ColourWindow(int x, int y, int width, int height, std::vector<Fill> fills)
        : fills_(std::move(fills)) {
        display_ = XOpenDisplay(nullptr);
        if (!display_) return;
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = 0;
        window_ = XCreateWindow(display_, DefaultRootWindow(display_), x, y, unsigned(width),
                                unsigned(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                CWOverrideRedirect | CWBackPixel, &attributes);
        XSelectInput(display_, window_, ExposureMask);
        XMapRaised(display_, window_);
        gc_ = XCreateGC(display_, window_, 0, nullptr);
        // Draw once exposed, then make sure the server has done it.
        XEvent event;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (XCheckTypedWindowEvent(display_, window_, Expose, &event)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        draw();
    }

    ~ColourWindow() {
        if (!display_) return;
        if (cursor_) XFreeCursor(display_, cursor_);
        XFreeGC(display_, gc_);
        XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }

    void draw() {
        for (const auto& f : fills_) {
            XSetForeground(display_, gc_, f.rgb);
            XFillRectangle(display_, window_, gc_, f.x, f.y, unsigned(f.width), unsigned(f.height));
        }
        XSync(display_, False);
    }

    void setFills(std::vector<Fill> fills) {
        fills_ = std::move(fills);
        draw();
    }

    void useCursor(unsigned int shape) {
        cursor_ = XCreateFontCursor(display_, shape);
        XDefineCursor(display_, window_, cursor_);
        XSync(display_, False);
    }

    bool ok() const { return display_ != nullptr; }
    Display* display() const { return display_; }
    Window window() const { return window_; }

private:
    Display* display_ = nullptr;
    Window window_ = 0;
    GC gc_ = nullptr;
    Cursor cursor_ = 0;
    std::vector<Fill> fills_;
};

}  // namespace testing_support
