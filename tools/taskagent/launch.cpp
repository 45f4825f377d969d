// Starting the program detached and waiting for the previous copy to end.
#include "taskagent/taskagent.h"

#include "app/single_instance.h"
#include "support/files.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace taskagent {

std::string programPath() {
    const char* over = std::getenv("LUMACRO3_PROGRAM");
    if (over && *over)
        return over;
    return support::getAppDir() + "/lumacro3";
}

namespace {

// Only async-signal-safe calls from here on: the caller may have threads.
[[noreturn]] void execDetached(const char* path, const char* folder, int errorPipe) {
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (null > 2)
            ::close(null);
    }
    // The program must not inherit ignored signals or a blocked mask.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &action, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (folder[0] != '\0' && ::chdir(folder) != 0) {
        // Stay in the current folder; the program finds its files by its own path.
    }
    char* const argv[] = {const_cast<char*>(path), nullptr};
    ::execv(path, argv);
    int error = errno;
    ssize_t ignored = ::write(errorPipe, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

}  // namespace

bool startDetached(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "no program path";
        return false;
    }
    // The child changes into the program's folder, so a relative path is made
    // absolute first.
    std::string program = path;
    if (program[0] != '/') {
        char cwd[4096];
        if (!::getcwd(cwd, sizeof cwd)) {
            error = std::strerror(errno);
            return false;
        }
        program = std::string(cwd) + "/" + program;
    }
    size_t slash = program.rfind('/');
    const std::string folder = slash == 0 ? "/" : program.substr(0, slash);

    // The grandchild reports a failed exec through this pipe; a successful exec
    // closes it (close-on-exec) and the parent reads end-of-file.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    pid_t child = ::fork();
    if (child < 0) {
        error = std::strerror(errno);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        // A new session without a controlling terminal; the second fork makes
        // the program a non-leader (it cannot reacquire a terminal) and an
        // orphan, so nobody has to reap it.
        ::close(pipeFds[0]);
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild < 0) {
            int e = errno;
            ssize_t ignored = ::write(pipeFds[1], &e, sizeof e);
            (void)ignored;
            ::_exit(1);
        }
        if (grandchild > 0)
            ::_exit(0);
        execDetached(program.c_str(), folder.c_str(), pipeFds[1]);
    }
    ::close(pipeFds[1]);
    int childError = 0;
    ssize_t n;
    do {
        n = ::read(pipeFds[0], &childError, sizeof childError);
    } while (n < 0 && errno == EINTR);
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof childError)) {
        error = std::strerror(childError);
        return false;
    }
    return true;
}

bool waitForExit(pid_t pid, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto stillThere = [pid] {
        return pid > 0 ? !processGone(pid) : app::SingleInstance::isRunning();
    };
    while (stillThere()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

}  // namespace taskagent
