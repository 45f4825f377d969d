#include "support/child_process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace support {

namespace {

// How long a child gets to be reaped after SIGKILL; only a child stuck in the
// kernel takes longer.
constexpr std::chrono::milliseconds kKillReapWait{2000};

// Children given up by their handles, reaped when they end.
std::mutex gReleasedMutex;
std::vector<pid_t> gReleased;

void addReleased(pid_t pid) {
    std::lock_guard<std::mutex> lock(gReleasedMutex);
    gReleased.push_back(pid);
}

// A child that dies while we read or write its pipe must not end this process.
void ignoreSigpipe() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGPIPE, SIG_IGN);
    });
}

int pidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

std::vector<std::string> argvOf(const SpawnOptions& o) {
    std::vector<std::string> argv{o.argv0.empty() ? o.program : o.argv0};
    argv.insert(argv.end(), o.args.begin(), o.args.end());
    return argv;
}

// Our environment with the additions of `extra` ("NAME=value") in place.
std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
    auto nameOf = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        const std::string_view entry(*e);
        const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& x) {
            return nameOf(x) == nameOf(entry);
        });
        if (!replaced)
            env.emplace_back(entry);
    }
    for (const std::string& x : extra)
        if (x.find('=') != std::string::npos && x.front() != '=')
            env.push_back(x);
    return env;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The program as execve needs it: a name without '/' is looked up in PATH now,
// since the PATH search of libc is not safe to run after fork.
bool resolveProgram(const SpawnOptions& o, std::string& path) {
    if (o.program.find('/') != std::string::npos) {
        path = o.program;  // relative ones resolve after the chdir
        return true;
    }
    const char* env = std::getenv("PATH");
    const std::string search = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= search.size()) {
        size_t end = search.find(':', start);
        if (end == std::string::npos)
            end = search.size();
        // An empty entry means the current folder.
        const std::string dir = end > start ? search.substr(start, end - start) : std::string(".");
        const std::string candidate = dir + "/" + o.program;
        if (isExecutableFile(candidate)) {
            path = candidate;
            return true;
        }
        start = end + 1;
    }
    return false;
}

// ---- after fork: only async-signal-safe calls ----

[[noreturn]] void failChild(int errorFd, int error) {
    [[maybe_unused]] ssize_t n = ::write(errorFd, &error, sizeof error);
    ::_exit(127);
}

void redirect(int target, const char* path, int flags, int errorFd) {
    const int fd = ::open(path, flags, 0600);
    if (fd < 0)
        failChild(errorFd, errno);
    if (fd != target) {
        ::dup2(fd, target);
        ::close(fd);
    }
}

struct DetachedExec {
    const char* path;
    char* const* argv;
    char* const* envp;
    const char* workDir;  // nullptr: stay
    const char* file;     // for Stream::File
    const SpawnOptions* options;
};

[[noreturn]] void execDetached(const DetachedExec& d, int errorFd) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (d.workDir && ::chdir(d.workDir) != 0)
        failChild(errorFd, errno);
    using Stream = SpawnOptions::Stream;
    if (d.options->stdinNull)
        redirect(0, "/dev/null", O_RDONLY, errorFd);
    if (d.options->out == Stream::File)
        redirect(1, d.file, O_WRONLY | O_CREAT | O_TRUNC, errorFd);
    else if (d.options->out != Stream::Inherit)
        redirect(1, "/dev/null", O_WRONLY, errorFd);
    if (d.options->err == Stream::File)
        ::dup2(1, 2);
    else if (d.options->err != Stream::Inherit)
        redirect(2, "/dev/null", O_WRONLY, errorFd);
    // Only the standard streams and the error pipe (closed by the exec) stay.
    if (errorFd > 3)
        ::close_range(3, static_cast<unsigned>(errorFd - 1), 0);
    ::close_range(static_cast<unsigned>(errorFd + 1), ~0U, 0);
    ::execve(d.path, d.argv, d.envp);
    failChild(errorFd, errno);
}

}  // namespace

// ---- ChildProcess ----

ChildProcess::~ChildProcess() {
    destroy();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)),
      id_(std::exchange(other.id_, {})),
      pidfd_(std::exchange(other.pidfd_, -1)),
      output_(std::exchange(other.output_, -1)),
      exitCode_(other.exitCode_),
      termSignal_(other.termSignal_),
      destroyGrace_(other.destroyGrace_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        destroy();
        pid_ = std::exchange(other.pid_, 0);
        id_ = std::exchange(other.id_, {});
        pidfd_ = std::exchange(other.pidfd_, -1);
        output_ = std::exchange(other.output_, -1);
        exitCode_ = other.exitCode_;
        termSignal_ = other.termSignal_;
        destroyGrace_ = other.destroyGrace_;
    }
    return *this;
}

void ChildProcess::destroy() {
    if (output_ >= 0) {
        ::close(output_);  // a child blocked writing to us gets EPIPE
        output_ = -1;
    }
    if (pid_ > 0 && !terminate(destroyGrace_))
        release();
    closeFds();
    reapReleasedChildren();
}

void ChildProcess::closeFds() {
    if (pidfd_ >= 0) {
        ::close(pidfd_);
        pidfd_ = -1;
    }
}

void ChildProcess::finish(int status) {
    if (status >= 0 && WIFEXITED(status)) {
        exitCode_ = WEXITSTATUS(status);
        termSignal_ = 0;
    } else {
        exitCode_ = -1;
        termSignal_ = status >= 0 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    pid_ = 0;
    closeFds();
}

bool ChildProcess::wait(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    if (pid_ <= 0)
        return false;
    const auto deadline = Clock::now() + timeout;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        int status = 0;
        const pid_t rc = ::waitpid(pid_, &status, WNOHANG);
        if (rc == pid_) {
            finish(status);
            return true;
        }
        if (rc < 0 && errno == ECHILD) {
            finish(-1);  // reaped elsewhere; it has ended all the same
            return true;
        }
        if (rc < 0 && errno != EINTR)
            return false;
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        if (pidfd_ >= 0) {
            // Readable once the child has ended.
            pollfd p{pidfd_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        } else {
            std::this_thread::sleep_for(std::min(pause, left));
            pause = std::min(pause * 2, std::chrono::milliseconds(20));
        }
    }
}

bool ChildProcess::wait() {
    if (pid_ <= 0)
        return false;
    int status = 0;
    pid_t rc;
    while ((rc = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    finish(rc == pid_ ? status : -1);
    return true;
}

bool ChildProcess::signal(int sig) {
    if (pid_ <= 0)
        return false;
#ifdef SYS_pidfd_send_signal
    // Exactly our child, even if some other code reaped it behind our back.
    if (pidfd_ >= 0)
        return ::syscall(SYS_pidfd_send_signal, pidfd_, sig, nullptr, 0) == 0;
#endif
    // Unreaped, the pid stays ours, so it cannot name another process.
    return ::kill(pid_, sig) == 0;
}

bool ChildProcess::terminate(std::chrono::milliseconds grace) {
    if (pid_ <= 0 || tryReap())
        return true;
    signal(SIGTERM);
    if (wait(grace))
        return true;
    signal(SIGKILL);
    return wait(kKillReapWait);
}

std::string ChildProcess::readOutput(size_t limit) {
    std::string output;
    if (output_ < 0)
        return output;
    char chunk[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(output_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        const size_t room = limit - std::min(output.size(), limit);
        output.append(chunk, std::min(room, static_cast<size_t>(n)));
    }
    ::close(output_);
    output_ = -1;
    return output;
}

pid_t ChildProcess::release() {
    const pid_t pid = pid_;
    if (pid > 0)
        addReleased(pid);
    pid_ = 0;
    closeFds();
    return pid;
}

size_t reapReleasedChildren() {
    std::lock_guard<std::mutex> lock(gReleasedMutex);
    std::erase_if(gReleased, [](pid_t pid) {
        const pid_t rc = ::waitpid(pid, nullptr, WNOHANG);
        return rc == pid || (rc < 0 && errno == ECHILD);
    });
    return gReleased.size();
}

// ---- starting ----

ChildProcess spawn(const SpawnOptions& o, std::string* error) {
    using Stream = SpawnOptions::Stream;
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return ChildProcess();
    };
    if (o.program.empty())
        return fail("no program");
    if (o.out == Stream::File && o.file.empty())
        return fail("no output file");
    ignoreSigpipe();
    reapReleasedChildren();

    std::vector<std::string> argvStrings = argvOf(o);
    std::vector<std::string> envStrings = environmentWith(o.env);
    std::vector<char*> argv = pointers(argvStrings);
    std::vector<char*> envp = pointers(envStrings);

    int capture[2] = {-1, -1};
    if (o.out == Stream::Capture && ::pipe2(capture, O_CLOEXEC) != 0)
        return fail(std::strerror(errno));

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    if (o.workDir.size())
        // A relative program with a slash is then found relative to workDir.
        posix_spawn_file_actions_addchdir_np(&actions, o.workDir.c_str());
    if (o.stdinNull)
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (o.out == Stream::Null)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    else if (o.out == Stream::File)
        posix_spawn_file_actions_addopen(&actions, 1, o.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    else if (o.out == Stream::Capture)
        posix_spawn_file_actions_adddup2(&actions, capture[1], 1);
    if (o.err == Stream::File)
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    else if (o.err != Stream::Inherit)
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // The child gets only its standard streams, whatever other code left open.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    // Default signal handling and nothing blocked, even though this process
    // ignores SIGPIPE.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (o.newSession)
        flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);

    // glibc reports a failed chdir, open or exec as the return value.
    pid_t pid = 0;
    const bool searchPath = o.program.find('/') == std::string::npos;
    const int rc = searchPath ? posix_spawnp(&pid, o.program.c_str(), &actions, &attr, argv.data(), envp.data())
                              : posix_spawn(&pid, o.program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (capture[1] >= 0)
        ::close(capture[1]);  // so that reading ends when the child closes its end
    if (rc != 0) {
        if (capture[0] >= 0)
            ::close(capture[0]);
        return fail(std::strerror(rc));
    }
    ChildProcess child;
    child.pid_ = pid;
    child.id_ = {pid, 0};
    if (auto id = processId(pid))
        child.id_ = *id;
    child.pidfd_ = pidfdOpen(pid);
    child.output_ = capture[0];
    return child;
}

bool startDetached(const SpawnOptions& o, std::string* error) {
    using Stream = SpawnOptions::Stream;
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (o.program.empty())
        return fail("no program");
    if (o.out == Stream::File && o.file.empty())
        return fail("no output file");
    std::string path;
    if (!resolveProgram(o, path))
        return fail(std::strerror(ENOENT));
    // Everything the children need is prepared before fork.
    std::vector<std::string> argvStrings = argvOf(o);
    std::vector<std::string> envStrings = environmentWith(o.env);
    std::vector<char*> argv = pointers(argvStrings);
    std::vector<char*> envp = pointers(envStrings);
    const DetachedExec exec{path.c_str(), argv.data(), envp.data(),
                            o.workDir.empty() ? nullptr : o.workDir.c_str(), o.file.c_str(), &o};

    // The grandchild reports a failed exec through this pipe; a successful
    // exec closes it (close-on-exec) and the read sees end-of-file.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return fail(std::strerror(errno));
    const pid_t child = ::fork();
    if (child < 0) {
        const int e = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return fail(std::strerror(e));
    }
    if (child == 0) {
        ::close(fds[0]);
        int errorFd = fds[1];
        if (errorFd < 3) {  // keep it clear of the standard streams
            errorFd = ::fcntl(errorFd, F_DUPFD_CLOEXEC, 3);
            if (errorFd < 0)
                ::_exit(1);
        }
        // A new session without a controlling terminal; the second fork makes
        // the program a non-leader (it cannot reacquire a terminal) and an
        // orphan that init reaps.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild < 0)
            failChild(errorFd, errno);
        if (grandchild > 0)
            ::_exit(0);
        execDetached(exec, errorFd);
    }
    ::close(fds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int childError = 0;
    ssize_t n;
    while ((n = ::read(fds[0], &childError, sizeof childError)) < 0 && errno == EINTR) {
    }
    ::close(fds[0]);
    if (n == static_cast<ssize_t>(sizeof childError))
        return fail(std::strerror(childError));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return fail("could not start");
    return true;
}

}  // namespace support
