#include "app/single_instance.h"

#include "support/files.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace app {

namespace {

// Probes open the file, take a shared lock for an instant and drop it. A probe
// that runs at the same moment as acquire() makes the exclusive lock fail once,
// so acquire() retries a few times before it concludes someone else holds it.
constexpr int kAcquireTries = 10;
constexpr useconds_t kAcquireRetryUs = 10 * 1000;

// Opens the lock file without following a symlink planted at its name.
int openLockFile(int flags) {
    std::string path = SingleInstance::lockPath();
    if (path.empty())
        return -1;
    return ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// True when another open file description holds the exclusive lock.
bool lockedElsewhere(int fd) {
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        ::flock(fd, LOCK_UN);
        return false;
    }
    return errno == EWOULDBLOCK;
}

pid_t parsePid(const std::string& text) {
    long long value = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 0x7fffffff)
            return 0;
    }
    if (i == 0 || (i < text.size() && text[i] != '\n'))
        return 0;
    return static_cast<pid_t>(value);
}

}  // namespace

std::string SingleInstance::lockPath() {
    std::string dir = support::runtimeDir();
    return dir.empty() ? std::string() : dir + "/Lumacro3.lock";
}

bool SingleInstance::acquire() {
    if (fd_ >= 0)
        return true;
    int fd = openLockFile(O_RDWR | O_CREAT);
    if (fd < 0)
        return false;
    bool locked = false;
    for (int i = 0; i < kAcquireTries && !locked; ++i) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            locked = true;
        else if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        else if (i + 1 < kAcquireTries)
            ::usleep(kAcquireRetryUs);
    }
    if (!locked) {
        ::close(fd);
        return false;
    }
    std::string text = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        // A lock without a readable pid still keeps a second copy out; helpers
        // then fall back to waiting on the lock itself.
    }
    fd_ = fd;
    return true;
}

void SingleInstance::release() {
    if (fd_ < 0)
        return;
    if (::ftruncate(fd_, 0) != 0) {
        // Readers check the lock before trusting the pid, so a stale pid is harmless.
    }
    ::close(fd_);  // drops the lock
    fd_ = -1;
}

bool SingleInstance::isRunning() {
    int fd = openLockFile(O_RDONLY);
    if (fd < 0)
        return false;
    bool running = lockedElsewhere(fd);
    ::close(fd);
    return running;
}

pid_t SingleInstance::runningPid() {
    int fd = openLockFile(O_RDONLY);
    if (fd < 0)
        return 0;
    pid_t pid = 0;
    if (lockedElsewhere(fd)) {
        char buffer[32];
        ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            pid = parsePid(std::string(buffer, static_cast<size_t>(n)));
    }
    ::close(fd);
    return pid;
}

}  // namespace app
