#include "app/crash_handler.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

namespace app {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kAltStackSize = 64 * 1024;

char gDumpPath[4096];
std::atomic<int> gHandling{0};

// ---- async-signal-safe text output ----

void put(int fd, const char* text) {
    size_t len = std::strlen(text);
    while (len > 0) {
        ssize_t n = ::write(fd, text, len);
        if (n <= 0)
            return;
        text += n;
        len -= static_cast<size_t>(n);
    }
}

void putNumber(int fd, unsigned long long value, unsigned base, int width = 0) {
    char buffer[32];
    int i = sizeof buffer - 1;
    buffer[i] = '\0';
    do {
        buffer[--i] = "0123456789abcdef"[value % base];
        value /= base;
        --width;
    } while ((value != 0 || width > 0) && i > 0);
    put(fd, buffer + i);
}

const char* signalName(int sig) {
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "?";
    }
}

// UTC date and time of a Unix time, without gmtime (not async-signal-safe).
void putUtc(int fd, long long t) {
    long long days = t / 86400, secs = t % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
    days += 719468;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    unsigned doe = static_cast<unsigned>(days - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = static_cast<long long>(yoe) + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    unsigned d = doy - (153 * mp + 2) / 5 + 1;
    unsigned m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
    putNumber(fd, static_cast<unsigned long long>(y), 10, 4);
    put(fd, "-");
    putNumber(fd, m, 10, 2);
    put(fd, "-");
    putNumber(fd, d, 10, 2);
    put(fd, " ");
    putNumber(fd, static_cast<unsigned long long>(secs / 3600), 10, 2);
    put(fd, ":");
    putNumber(fd, static_cast<unsigned long long>(secs / 60 % 60), 10, 2);
    put(fd, ":");
    putNumber(fd, static_cast<unsigned long long>(secs % 60), 10, 2);
    put(fd, " UTC");
}

void writeReport(int fd, int sig, siginfo_t* info) {
    put(fd, "Lumacro3 fatal error\nsignal: ");
    putNumber(fd, static_cast<unsigned>(sig), 10);
    put(fd, " (");
    put(fd, signalName(sig));
    put(fd, ")\ncode: ");
    putNumber(fd, static_cast<unsigned>(info ? info->si_code : 0), 10);
    put(fd, "\naddress: 0x");
    putNumber(fd, reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr), 16);
    put(fd, "\npid: ");
    putNumber(fd, static_cast<unsigned>(::getpid()), 10);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    put(fd, "\ntime: ");
    putNumber(fd, static_cast<unsigned long long>(now.tv_sec), 10);
    put(fd, " (");
    putUtc(fd, now.tv_sec);
    put(fd, ")\nbacktrace:\n");
    void* frames[64];
    int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    put(fd, "end\n");
}

void onFatalSignal(int sig, siginfo_t* info, void*) {
    // A second fault while reporting (or in another thread) goes straight to the default action.
    if (gHandling.exchange(1) != 0) {
        // Another thread is writing the report: give it time, then end anyway.
        timespec pause{0, 100 * 1000 * 1000};
        for (int i = 0; i < 30; ++i)
            ::nanosleep(&pause, nullptr);
    } else if (gDumpPath[0] != '\0') {
        int fd = ::open(gDumpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            writeReport(fd, sig, info);
            ::fsync(fd);
            ::close(fd);
        }
    }
    put(2, "Fatal Error\n");
    ::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);  // not reached for these signals
}

bool writableDir(const std::string& dir) {
    return !dir.empty() && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

void crashHandlerThreadInit() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE))
        return;  // this thread has one already
    stack_t stack{};
    stack.ss_sp = std::malloc(kAltStackSize);  // kept for the life of the thread
    stack.ss_size = kAltStackSize;
    if (stack.ss_sp)
        ::sigaltstack(&stack, nullptr);
}

std::string installCrashHandler(const std::string& appDir, const std::string& fallbackDir) {
    std::string dir = writableDir(appDir) ? appDir : writableDir(fallbackDir) ? fallbackDir : "";
    std::string path = dir.empty() ? std::string() : dir + "/Lumacro3.dmp";
    if (path.size() >= sizeof gDumpPath)
        path.clear();
    std::memcpy(gDumpPath, path.c_str(), path.size() + 1);

    // The first backtrace() loads libgcc; do that now, not inside the handler.
    void* frames[2];
    ::backtrace(frames, 2);

    crashHandlerThreadInit();
    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
    return path;
}

}  // namespace app
