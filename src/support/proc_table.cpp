#include "support/proc_table.h"

#include "support/files.h"
#include "support/strings.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <poll.h>
#include <sstream>
#include <sys/syscall.h>
#include <unistd.h>

namespace support {

namespace {

constexpr unsigned long kPfKthread = 0x00200000;  // task flag of kernel threads
// How long SIGKILL gets to land before a process counts as not ended.
constexpr std::chrono::milliseconds kKillLandMs{1000};

std::string procPath(pid_t pid, const char* entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

std::string readProc(pid_t pid, const char* entry) {
    std::string text;
    return readFile(procPath(pid, entry), text) ? text : std::string();
}

// Fields of /proc/PID/stat after the name. The name sits in parentheses and
// may itself hold ')' or blanks, so the fields are counted from the last ')'.
bool parseStat(const std::string& stat, ProcessInfo& info) {
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // 3 state, 4 ppid, 9 flags, 22 starttime (1-based field numbers of proc(5))
    for (int number = 3; number <= 22; ++number) {
        if (!(fields >> field))
            return false;
        if (number == 3)
            info.state = field[0];
        else if (number == 4)
            info.ppid = static_cast<pid_t>(std::strtol(field.c_str(), nullptr, 10));
        else if (number == 9)
            info.flags = std::strtoul(field.c_str(), nullptr, 10);
        else if (number == 22)
            info.startTime = std::strtoull(field.c_str(), nullptr, 10);
    }
    return true;
}

std::optional<ProcessInfo> readStat(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
    ProcessInfo info;
    info.pid = pid;
    if (!parseStat(readProc(pid, "stat"), info))
        return std::nullopt;
    return info;
}

int pidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

// A pidfd for exactly `id`: the start time is checked after opening, so the
// descriptor cannot belong to a process that took the pid over. -1 when the
// process is gone or pidfds are not available.
int pidfdFor(const ProcessId& id) {
    const int fd = pidfdOpen(id.pid);
    if (fd < 0)
        return -1;
    const auto now = readStat(id.pid);
    if (!now || now->startTime != id.startTime) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool ProcessInfo::kernelThread() const {
    return (flags & kPfKthread) != 0;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

long processUid(pid_t pid) {
    std::istringstream status(readProc(pid, "status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 4, "Uid:") == 0) {
            char* end = nullptr;
            const long uid = std::strtol(line.c_str() + 4, &end, 10);
            return end == line.c_str() + 4 ? -1 : uid;
        }
    }
    return -1;
}

std::string processExe(pid_t pid) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(procPath(pid, "exe").c_str(), buffer, sizeof buffer - 1);
    std::string target = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    static const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() &&
        target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
        target.resize(target.size() - deleted.size());
    return target;
}

std::optional<ProcessInfo> readProcess(pid_t pid) {
    auto info = readStat(pid);
    if (!info)
        return std::nullopt;
    info->comm = readProc(pid, "comm");
    if (!info->comm.empty() && info->comm.back() == '\n')
        info->comm.pop_back();
    info->uid = processUid(pid);
    info->exe = processExe(pid);
    const std::string cmdline = readProc(pid, "cmdline");
    if (!cmdline.empty()) {
        info->args = strSplit(cmdline, std::string(1, '\0'));
        if (!info->args.empty() && info->args.back().empty())
            info->args.pop_back();
    }
    // The pid may have changed hands between the reads; the names would then be mixed.
    const auto again = readStat(pid);
    if (!again || again->startTime != info->startTime)
        return std::nullopt;
    return info;
}

std::vector<ProcessInfo> listProcesses() {
    std::vector<ProcessInfo> found;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long value = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || value <= 0 || value > INT_MAX)
            continue;
        auto info = readProcess(static_cast<pid_t>(value));
        if (info && !info->kernelThread())
            found.push_back(std::move(*info));
    }
    ::closedir(proc);
    return found;
}

std::vector<ProcessInfo> ownProcesses() {
    const long uid = static_cast<long>(::getuid());
    const pid_t self = ::getpid();
    std::vector<ProcessInfo> own;
    for (ProcessInfo& info : listProcesses())
        if (info.uid == uid && !info.zombie() && info.pid != self && info.pid != 1)
            own.push_back(std::move(info));
    return own;
}

bool knownAs(const ProcessInfo& info, const std::string& name) {
    if (name.empty())
        return false;
    const std::string wanted = toLower(name);
    return toLower(info.comm) == wanted || toLower(baseName(info.exe)) == wanted ||
           (!info.args.empty() && toLower(baseName(info.args[0])) == wanted);
}

std::vector<ProcessInfo> findOwnProcesses(const std::string& name) {
    std::vector<ProcessInfo> found;
    for (ProcessInfo& info : ownProcesses())
        if (knownAs(info, name))
            found.push_back(std::move(info));
    return found;
}

std::optional<ProcessId> processId(pid_t pid) {
    const auto info = readStat(pid);
    if (!info || info->zombie())
        return std::nullopt;
    return info->id();
}

bool processGone(pid_t pid) {
    const auto info = readStat(pid);
    return !info || info->zombie();
}

bool processGone(const ProcessId& id) {
    const auto info = readStat(id.pid);
    return !info || info->zombie() || info->startTime != id.startTime;
}

bool signalProcess(const ProcessId& id, int sig) {
    if (id.pid <= 0 || processGone(id))
        return false;
    const int fd = pidfdFor(id);
    if (fd >= 0) {
#ifdef SYS_pidfd_send_signal
        const bool sent = ::syscall(SYS_pidfd_send_signal, fd, sig, nullptr, 0) == 0;
        ::close(fd);
        return sent;
#else
        ::close(fd);
#endif
    }
    // Without pidfds: the start time is checked right before, which leaves
    // only a tiny window for the pid to change hands.
    if (processGone(id))
        return false;
    return ::kill(id.pid, sig) == 0;
}

bool waitGone(const std::vector<ProcessId>& ids, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    // A pidfd becomes readable when its process ends, so the wait does not
    // poll /proc more than every 20 ms.
    std::vector<pollfd> fds;
    for (const ProcessId& id : ids) {
        const int fd = id.pid > 0 ? pidfdFor(id) : -1;
        if (fd >= 0)
            fds.push_back({fd, POLLIN, 0});
    }
    bool allGone = false;
    for (;;) {
        allGone = true;
        for (const ProcessId& id : ids)
            allGone = allGone && (id.pid <= 0 || processGone(id));
        const auto now = Clock::now();
        if (allGone || now >= deadline)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        const int ms = static_cast<int>(std::min<long long>(left.count() + 1, 20));
        ::poll(fds.data(), fds.size(), ms);
    }
    for (const pollfd& p : fds)
        ::close(p.fd);
    return allGone;
}

int terminateProcesses(const std::vector<ProcessId>& ids, std::chrono::milliseconds grace) {
    for (const ProcessId& id : ids)
        signalProcess(id, SIGTERM);
    if (!waitGone(ids, grace)) {
        for (const ProcessId& id : ids)
            signalProcess(id, SIGKILL);  // a no-op for those already gone
        waitGone(ids, kKillLandMs);
    }
    int gone = 0;
    for (const ProcessId& id : ids)
        gone += processGone(id) ? 1 : 0;
    return gone;
}

}  // namespace support
