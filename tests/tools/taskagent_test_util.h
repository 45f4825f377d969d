// Helpers for the taskagent tests: temporary folders, running the built
// program with a chosen environment, and throwaway processes to end.
#pragma once

#include "common/eventually.h"
#include "common/scoped_env.h"
#include "common/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tatest {

namespace fs = std::filesystem;

using testing_support::exists;
using testing_support::readText;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::waitUntil;

inline bool writeText(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return ::chmod(path.c_str(), mode) == 0;
}

inline std::string comm(pid_t pid) {
    return readText("/proc/" + std::to_string(pid) + "/comm");
}

inline std::vector<char*> cStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

struct RunResult {
    int code = -1;  // exit code; -1 when killed
    std::string out, err;
    long long ms = 0;
};

// Runs `program` with this process's environment plus `env` (an empty value
// removes a variable), collecting its output; killed after 20 s.
inline RunResult runProgram(const std::string& program, std::vector<std::string> args,
                            const std::map<std::string, std::string>& env = {}) {
    args.insert(args.begin(), program);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        if (!env.count(std::string(*e).substr(0, std::string(*e).find('='))))
            envStrings.push_back(*e);
    for (const auto& [key, value] : env)
        if (!value.empty())
            envStrings.push_back(key + "=" + value);
    auto argv = cStrings(args);
    auto envp = cStrings(envStrings);

    RunResult result;
    int pipes[2][2];
    if (::pipe2(pipes[0], O_CLOEXEC) != 0 || ::pipe2(pipes[1], O_CLOEXEC) != 0)
        return result;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipes[0][1], 1);
        ::dup2(pipes[1][1], 2);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipes[0][1]);
    ::close(pipes[1][1]);
    pollfd fds[2] = {{pipes[0][0], POLLIN, 0}, {pipes[1][0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    for (int open = 2; open > 0;) {
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20))
            ::kill(pid, SIGKILL);
        ::poll(fds, 2, 100);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            char buffer[4096];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline RunResult runTaskagent(const std::vector<std::string>& args,
                              const std::map<std::string, std::string>& env = {}) {
    return runProgram(std::string(LUMACRO3_BIN_DIR) + "/taskagent", args, env);
}

// Child processes of the test: killed and reaped when the owner goes.
class Children {
public:
    ~Children() {
        for (pid_t pid : pids_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    // Runs `exe` with argv[0] = `argv0` and one more argument.
    pid_t spawn(const std::string& exe, std::string argv0, std::string arg) {
        std::vector<std::string> strings{argv0, arg};
        auto argv = cStrings(strings);
        return forkRunning([&] {
            ::dup2(::open("/dev/null", O_RDWR), 1);
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        });
    }
    // A forked copy of this process that runs `body` and then waits for a signal.
    pid_t forkRunning(const std::function<void()>& body) {
        pid_t pid = ::fork();
        if (pid == 0) {
            body();
            for (;;)
                ::pause();
        }
        pids_.push_back(pid);
        return pid;
    }
    // True when the child has exited (and is reaped) within `ms`.
    bool exitsWithin(pid_t pid, int ms) {
        return waitUntil([&] { return ::waitpid(pid, nullptr, WNOHANG) == pid; }, ms) && forget(pid);
    }
    bool alive(pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == 0 || !forget(pid); }

private:
    bool forget(pid_t pid) {
        std::erase(pids_, pid);
        return true;
    }
    std::vector<pid_t> pids_;
};

// Copies a program under another name (so it shows up with that name in /proc).
inline bool copyProgram(const std::string& from, const std::string& to) {
    return writeText(to, readText(from), 0755);
}

}  // namespace tatest
