// taskagent: jobs of the program that must outlive it (restart, ending
// helpers, writing helper configuration). The executable is a thin wrapper
// around runCommandLine; the pieces are exposed for the tests.
#pragma once

#include "support/proc_table.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace taskagent {

// Exit codes.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// How long -run waits for the program to end, and how long a process gets
// between SIGTERM and SIGKILL.
constexpr int kRunWaitMs = 60 * 1000;
constexpr int kTermGraceMs = 2000;

// Runs one command line (arguments after the program name); returns the exit code.
int runCommandLine(const std::vector<std::string>& args);

// ---- processes ----

// Running processes of the own real uid known as `wanted` (support::knownAs),
// except this process, pid 1 and zombies. `wanted` is a name as the program
// passes it ("farolineserver.exe", maybe with a Windows folder in front): the
// folder is dropped and ".exe" is optional.
std::vector<support::ProcessId> findProcesses(const std::string& wanted);

// ---- starting the program ----

// $LUMACRO3_PROGRAM when set, else "<own folder>/lumacro3".
std::string programPath();
// Starts `path` from its own folder, in its own session, stdio on /dev/null,
// not a child of the caller. False (with the reason in `error`) when it could
// not be executed.
bool startDetached(const std::string& path, std::string& error);
// Waits until `pid` is gone (pid 0: until the single-instance lock is free).
// False when it is still there after timeoutMs.
bool waitForExit(pid_t pid, int timeoutMs);

// ---- commands ----
int cmdRun(pid_t pid, int timeoutMs);
int cmdStart();
int cmdKillOne(const std::string& name);
int cmdKill();
// `address` empty: the servers listen on every address; else a dotted IPv4 address.
int cmdCfg(const std::string& docDir, const std::string& httpPort, const std::string& ftpPort,
           const std::string& address = {});
int cmdFixPpt();

// ---- helper configuration ----

// Backslashes become slashes, runs of slashes collapse, a trailing slash goes.
std::string normalizeDocDir(const std::string& path);
// Decimal 1..65535 and nothing else.
bool parsePort(const std::string& text, int& port);
// Absolute, and free of characters that would end or alter a quoted nginx
// string or an INI line (; { } " $ \ and control characters).
bool safeConfigPath(const std::string& path);
// nginx.conf for serving docDir read-only on `port`; `prefix` ends with '/'.
// mimeTypesFile empty: a small types block is written inline. `address`
// empty: listen on every address.
std::string nginxConfig(const std::string& prefix, const std::string& docDir, int port,
                        bool runAsRoot, const std::string& mimeTypesFile,
                        const std::string& address = {});
// INI text read by the program when it starts the FTP server; without an
// "address" line it listens on every address.
std::string ftpdConfig(const std::string& docDir, int port, const std::string& address = {});

}  // namespace taskagent
