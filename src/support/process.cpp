#include "support/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace support {

namespace {

thread_local int tLastExitCode = -1;

constexpr size_t kMaxCapturedOutput = 64 * 1024 * 1024;

// A child that dies while we write to its pipe must not end this process.
void ignoreSigpipe() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current{};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            signal(SIGPIPE, SIG_IGN);
        }
    });
}

// Where the child's standard streams go.
struct Streams {
    bool hide = false;   // stdin, stdout and stderr to /dev/null
    int stdoutFd = -1;   // when set, the child's stdout (overrides hide for stdout)
};

pid_t spawn(const std::string& file, const std::vector<std::string>& args,
            const std::string& folder, const Streams& streams) {
    if (file.empty()) {
        return 0;
    }
    ignoreSigpipe();

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(file.c_str()));
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);

    if (streams.hide) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (streams.stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, streams.stdoutFd, 1);
    }
    // The child gets only its standard streams, whatever other code left open.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!folder.empty()) {
        // A relative `file` with a slash is then found relative to `folder`.
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    }

    // Start the child with default signal handling and nothing blocked, even
    // though this process ignores SIGPIPE.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    // glibc reports a failed chdir or exec as the return value.
    pid_t pid = 0;
    const bool searchPath = file.find('/') == std::string::npos;
    const int rc = searchPath ? posix_spawnp(&pid, file.c_str(), &actions, &attr, argv.data(), environ)
                              : posix_spawn(&pid, file.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : 0;
}

int exitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;  // true also for a word that is just "" (an empty argument)
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

ProcessHandle simpleShellExecute(const std::string& file, const std::string& folder,
                                 const std::string& parameters, bool show) {
    return spawnProcess(file, splitCommandLine(parameters), folder, show);
}

ProcessHandle spawnProcess(const std::string& file, const std::vector<std::string>& args,
                           const std::string& folder, bool show) {
    Streams streams;
    streams.hide = !show;
    return ProcessHandle{spawn(file, args, folder, streams)};
}

bool waitForEvent(ProcessHandle& handle, unsigned int ms) {
    if (handle.pid <= 0) {
        return false;  // nothing to wait for
    }
    const bool forever = ms == 0xFFFFFFFFu;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    auto pause = std::chrono::milliseconds(1);
    while (true) {
        int status = 0;
        const pid_t rc = waitpid(handle.pid, &status, forever ? 0 : WNOHANG);
        if (rc == handle.pid || (rc < 0 && errno == ECHILD)) {
            // ECHILD: someone else reaped it; it has ended all the same.
            tLastExitCode = rc == handle.pid ? exitCodeOf(status) : -1;
            handle.pid = 0;
            return true;
        }
        if (rc < 0 && errno != EINTR) {
            return false;
        }
        if (forever) continue;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

int lastExitCode() { return tLastExitCode; }

std::string runCmd(const std::string& program, const std::string& parameters,
                   const std::string& folder) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return "";
    }
    Streams streams;
    streams.hide = true;
    streams.stdoutFd = fds[1];
    const pid_t pid = spawn(program, splitCommandLine(parameters), folder, streams);
    ::close(fds[1]);  // so that reading ends when the child closes its end
    std::string output;
    if (pid > 0) {
        char chunk[16 * 1024];
        while (true) {
            const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            // Keep draining past the limit so that the child is not blocked.
            const size_t room = kMaxCapturedOutput - std::min(output.size(), kMaxCapturedOutput);
            output.append(chunk, std::min(room, static_cast<size_t>(n)));
        }
    }
    ::close(fds[0]);
    if (pid > 0) {
        ProcessHandle child{pid};
        waitForEvent(child, 0xFFFFFFFFu);
    }
    return output;
}

}  // namespace support
