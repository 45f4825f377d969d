// Starting and waiting for other programs.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace support {

// A started child process; pid 0 means none. Not copyable, so that exactly one
// owner reaps the child.
struct ProcessHandle {
    pid_t pid = 0;
    explicit operator bool() const { return pid > 0; }
};

// Starts `file` with the arguments in `parameters` (split like a shell would
// split words, double quotes group) in `folder` (empty: current folder).
// `show` false sends the child's stdout and stderr to /dev/null.
// Returns a handle the caller may wait on, or pid 0 on failure.
ProcessHandle simpleShellExecute(const std::string& file, const std::string& folder,
                                 const std::string& parameters, bool show);
// Same with an explicit argument list (no word splitting).
ProcessHandle spawnProcess(const std::string& file, const std::vector<std::string>& args,
                           const std::string& folder, bool show);

// Waits until the process ended or `ms` passed (0xFFFFFFFF: no limit). True
// when it ended; then the child has been reaped and the handle is reset.
bool waitForEvent(ProcessHandle& handle, unsigned int ms);
// Exit code of the last child reaped by waitForEvent on this thread (-1 when killed).
int lastExitCode();

// Runs a program hidden, waits for it and returns what it wrote to stdout.
std::string runCmd(const std::string& program, const std::string& parameters,
                   const std::string& folder);

// Splits a command line into words: blanks separate, double quotes group.
std::vector<std::string> splitCommandLine(const std::string& line);

}  // namespace support
