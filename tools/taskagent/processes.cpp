// Finding and ending processes through /proc.
#include "taskagent/taskagent.h"

#include "support/files.h"
#include "support/strings.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace taskagent {

namespace {

constexpr unsigned long kPfKthread = 0x00200000;  // task flag of kernel threads

std::string procPath(pid_t pid, const char* entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

std::string readProcFile(pid_t pid, const char* entry) {
    std::ifstream in(procPath(pid, entry), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Base name after the last '/' or '\' (Windows-style names come in too).
std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// State letter and flags from /proc/PID/stat; false when the process is gone.
// The name field sits in parentheses and may itself hold ')' or blanks, so the
// fields are counted from the last ')'.
bool readStat(pid_t pid, char& state, unsigned long& flags) {
    std::string stat = readProcFile(pid, "stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // state ppid pgrp session tty_nr tpgid flags
    for (int i = 0; i < 7; ++i) {
        if (!(fields >> field))
            return false;
        if (i == 0)
            state = field.empty() ? '?' : field[0];
    }
    flags = std::strtoul(field.c_str(), nullptr, 10);
    return true;
}

std::string readLink(const std::string& path) {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

ProcessNames namesOf(pid_t pid) {
    ProcessNames names;
    std::string comm = readProcFile(pid, "comm");
    if (!comm.empty() && comm.back() == '\n')
        comm.pop_back();
    names.comm = support::toLower(comm);
    names.exe = support::toLower(baseName(processExe(pid)));
    std::string cmdline = readProcFile(pid, "cmdline");
    names.argv0 = support::toLower(baseName(cmdline.substr(0, cmdline.find('\0'))));
    return names;
}

}  // namespace

bool nameMatches(const ProcessNames& names, const std::string& wanted) {
    std::string name = support::toLower(baseName(wanted));
    if (name.empty())
        return false;
    std::string bare = name;
    if (bare.size() > 4 && bare.compare(bare.size() - 4, 4, ".exe") == 0)
        bare.resize(bare.size() - 4);
    for (const std::string* candidate : {&names.comm, &names.exe, &names.argv0}) {
        if (!candidate->empty() && (*candidate == name || *candidate == bare))
            return true;
    }
    return false;
}

long processUid(pid_t pid) {
    std::istringstream status(readProcFile(pid, "status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 4, "Uid:") == 0) {
            char* end = nullptr;
            long uid = std::strtol(line.c_str() + 4, &end, 10);
            return end == line.c_str() + 4 ? -1 : uid;
        }
    }
    return -1;
}

std::string processExe(pid_t pid) {
    std::string target = readLink(procPath(pid, "exe"));
    static const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() &&
        target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
        target.resize(target.size() - deleted.size());
    return target;
}

std::vector<pid_t> findProcesses(const std::string& wanted) {
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    const pid_t self = ::getpid();
    const long uid = static_cast<long>(::getuid());
    while (dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        long value = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || value <= 1 || value == self)
            continue;
        pid_t pid = static_cast<pid_t>(value);
        char state = '?';
        unsigned long flags = 0;
        if (!readStat(pid, state, flags) || (flags & kPfKthread) || state == 'Z' || state == 'X')
            continue;
        if (processUid(pid) != uid)
            continue;
        if (nameMatches(namesOf(pid), wanted))
            found.push_back(pid);
    }
    ::closedir(proc);
    return found;
}

bool processGone(pid_t pid) {
    if (pid <= 0)
        return true;
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    char state = '?';
    unsigned long flags = 0;
    if (!readStat(pid, state, flags))
        return true;
    return state == 'Z' || state == 'X';
}

int terminateProcesses(const std::vector<pid_t>& pids, int graceMs) {
    using Clock = std::chrono::steady_clock;
    auto allGone = [&] {
        for (pid_t pid : pids)
            if (!processGone(pid))
                return false;
        return true;
    };
    auto waitUpTo = [&](int ms) {
        auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (!allGone() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };

    for (pid_t pid : pids)
        if (pid > 0)
            ::kill(pid, SIGTERM);
    waitUpTo(graceMs);
    for (pid_t pid : pids)
        if (pid > 0 && !processGone(pid))
            ::kill(pid, SIGKILL);
    waitUpTo(1000);  // SIGKILL cannot be caught; this only covers delivery

    int gone = 0;
    for (pid_t pid : pids)
        if (processGone(pid))
            ++gone;
    return gone;
}

}  // namespace taskagent
