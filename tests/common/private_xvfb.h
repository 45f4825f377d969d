// A private Xvfb server: its own display number (chosen by Xvfb through
// -displayfd, so parallel tests never collide) and screen size. DISPLAY
// points at it while the object lives; the server dies with this process,
// even after a crash. LUMACRO3_X_VERBOSE=1 keeps the server's output.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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
        const bool quiet = !std::getenv("LUMACRO3_X_VERBOSE");
        std::fflush(nullptr);  // the child must not write our buffered output again
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::close(fds[0]);
            if (quiet) {
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, 1);
                ::dup2(null, 2);
            }
            ::execvp("Xvfb", argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char c;
            if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        ::close(fds[0]);
        if (number.empty()) {
            stop();
            return;
        }
        display_ = ":" + number;
        if (const char* old = std::getenv("DISPLAY")) saved_ = old, hadDisplay_ = true;
        ::setenv("DISPLAY", display_.c_str(), 1);
    }

    ~PrivateXvfb() {
        if (!display_.empty()) {
            if (hadDisplay_)
                ::setenv("DISPLAY", saved_.c_str(), 1);
            else
                ::unsetenv("DISPLAY");
        }
        stop();
    }

    PrivateXvfb(const PrivateXvfb&) = delete;
    PrivateXvfb& operator=(const PrivateXvfb&) = delete;

    // Ends the server early (a display that goes away under its clients).
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    bool ok() const { return !display_.empty(); }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
    std::string saved_;
    bool hadDisplay_ = false;
};

}  // namespace testing_support
