// Pieces shared by the capture and stream measurements: a private Xvfb, a
// test-pattern window that changes every frame (drawn by a child process, so
// its CPU is not counted), and running the ffmpeg CLI as the reference.
#pragma once

#include "bench_common.h"

#include "capture/colour_window.h"

#include <X11/Xlib.h>

#include <csignal>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

namespace bench {

// A child process that covers the screen with moving colour bars and a
// moving box, redrawn `fps` times a second, until it is stopped.
class PatternDrawer {
public:
    PatternDrawer(int width, int height, int fps = 30) {
        pid_ = ::fork();
        if (pid_ < 0) fail("fork: %s", std::strerror(errno));
        if (pid_ == 0) {
            draw(width, height, fps);
            ::_exit(0);
        }
    }
    ~PatternDrawer() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    PatternDrawer(const PatternDrawer&) = delete;
    PatternDrawer& operator=(const PatternDrawer&) = delete;

private:
    static void draw(int width, int height, int fps) {
        Display* d = XOpenDisplay(nullptr);
        if (!d) ::_exit(1);
        XSetWindowAttributes a{};
        a.override_redirect = True;
        Window w = XCreateWindow(d, DefaultRootWindow(d), 0, 0, unsigned(width), unsigned(height), 0,
                                 CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &a);
        XMapRaised(d, w);
        GC gc = XCreateGC(d, w, 0, nullptr);
        for (unsigned frame = 0;; ++frame) {
            const int bars = 24;
            for (int i = 0; i < bars; ++i) {
                const unsigned v = (i * 37 + frame * 5) & 0xff;
                XSetForeground(d, gc, (v << 16) | (((v * 3) & 0xff) << 8) | ((255 - v) & 0xff));
                XFillRectangle(d, w, gc, i * width / bars, 0, unsigned(width / bars + 1),
                               unsigned(height));
            }
            XSetForeground(d, gc, 0xffffff);
            const int x = int(frame * 13 % unsigned(width - 200));
            const int y = int(frame * 7 % unsigned(height - 200));
            XFillRectangle(d, w, gc, x, y, 200, 200);
            XSync(d, False);
            ::usleep(1000000 / fps);
        }
    }

    pid_t pid_ = -1;
};

// Runs a program to its end; returns the CPU seconds (user + system) it used.
inline double runForCpu(const std::vector<std::string>& args, bool quiet = true) {
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        fail("cannot start %s", argv[0]);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) fail("wait4: %s", std::strerror(errno));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "note: %s ended with status %d\n", argv[0], status);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline int argInt(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == name) return std::atoi(argv[i + 1]);
    return fallback;
}

}  // namespace bench
