// A private Xvfb server for one test: its own display number (chosen by Xvfb
// through -displayfd, so parallel tests never collide) and screen size.
// DISPLAY points at it while the object lives.
#pragma once

#include <X11/Xlib.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testing_support {

class PrivateXvfb {
public:
    // `extra` are further Xvfb arguments, e.g. {"-extension", "MIT-SHM"}.
    PrivateXvfb(int width, int height, const std::vector<std::string>& extra = {}) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        const std::string fd = std::to_string(fds[1]);
        std::vector<std::string> args = {"Xvfb", "-displayfd", fd, "-screen", "0", screen,
                                         "-noreset", "-nolisten", "tcp"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        std::string number;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char c;
            if (::read(fds[0], &c, 1) != 1) break;
            if (c == '\n') break;
            number += c;
        }
        ::close(fds[0]);
        if (number.empty()) return;
        display_ = ":" + number;
        if (const char* old = std::getenv("DISPLAY")) saved_ = old, hadDisplay_ = true;
        ::setenv("DISPLAY", display_.c_str(), 1);
    }

    ~PrivateXvfb() {
        if (hadDisplay_)
            ::setenv("DISPLAY", saved_.c_str(), 1);
        else
            ::unsetenv("DISPLAY");
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }

    PrivateXvfb(const PrivateXvfb&) = delete;
    PrivateXvfb& operator=(const PrivateXvfb&) = delete;

    bool ok() const { return !display_.empty(); }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
    std::string saved_;
    bool hadDisplay_ = false;
};

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
