// The process table as /proc shows it: reading one process, listing them,
// telling whether a process is gone, and ending processes that are not our
// children with SIGTERM and then SIGKILL.
//
// A pid alone can name a different process once the first one ended and the
// kernel handed the number out again. ProcessId pairs the pid with the start
// time of the process, so code that looked a process up earlier never
// signals or waits for a newcomer that got the same number.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace support {

struct ProcessId {
    pid_t pid = 0;
    uint64_t startTime = 0;  // clock ticks after boot (field 22 of /proc/PID/stat)
    bool operator==(const ProcessId&) const = default;
};

struct ProcessInfo {
    pid_t pid = 0;
    pid_t ppid = 0;
    char state = '?';          // R, S, D, Z, X, ...
    unsigned long flags = 0;   // kernel task flags
    uint64_t startTime = 0;
    long uid = -1;             // real uid; -1 when unreadable
    std::string comm;          // /proc/PID/comm (the kernel cuts it to 15 bytes)
    std::string exe;           // target of /proc/PID/exe without " (deleted)"; "" when unreadable
    std::vector<std::string> args;  // /proc/PID/cmdline; empty for zombies and kernel threads

    bool zombie() const { return state == 'Z' || state == 'X'; }
    bool kernelThread() const;
    ProcessId id() const { return {pid, startTime}; }
};

// Nullopt when the process does not exist (any more) or its stat is unreadable.
std::optional<ProcessInfo> readProcess(pid_t pid);
// Every process that can be read, kernel threads left out, zombies included.
std::vector<ProcessInfo> listProcesses();
// Running processes of the own real uid: no zombies, not this process, not pid 1.
std::vector<ProcessInfo> ownProcesses();

// True when the process is known as `name`: its comm, the base name of its
// executable or of its first argument, compared case-insensitively.
bool knownAs(const ProcessInfo& info, const std::string& name);
// Own running processes (as ownProcesses()) known as `name`.
std::vector<ProcessInfo> findOwnProcesses(const std::string& name);

// The identity of a live pid; nullopt when it is gone.
std::optional<ProcessId> processId(pid_t pid);
// True when no process has this pid, or only a zombie waiting to be reaped.
bool processGone(pid_t pid);
// Same, and also true when the pid now belongs to another process.
bool processGone(const ProcessId& id);
// Real uid of the process; -1 when it cannot be read.
long processUid(pid_t pid);
// Target of /proc/PID/exe without a " (deleted)" mark; "" when unreadable.
std::string processExe(pid_t pid);
// Base name after the last '/' or '\'.
std::string baseName(const std::string& path);

// Sends `sig` to exactly that process; false when it is gone (or was
// replaced) or the signal is refused.
bool signalProcess(const ProcessId& id, int sig);
// Waits until all are gone or `timeout` passed; true when all are gone.
bool waitGone(const std::vector<ProcessId>& ids, std::chrono::milliseconds timeout);
// SIGTERM to all, up to `grace` for them to go, then SIGKILL to the rest and
// a short wait for it to land. Returns how many are gone afterwards.
int terminateProcesses(const std::vector<ProcessId>& ids, std::chrono::milliseconds grace);

}  // namespace support
