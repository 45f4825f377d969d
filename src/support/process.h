// Starting and waiting for other programs, the short forms most callers use.
// The child handle and the full set of start options are in child_process.h.
#pragma once

#include "support/child_process.h"

#include <string>
#include <vector>

namespace support {

// Starts `file` with the arguments in `parameters` (split like a shell would
// split words, double quotes group) in `folder` (empty: current folder).
// `show` false sends the child's standard streams to /dev/null.
// Returns the child, or an empty handle on failure.
ChildProcess simpleShellExecute(const std::string& file, const std::string& folder,
                                const std::string& parameters, bool show);
// Same with an explicit argument list (no word splitting).
ChildProcess spawnProcess(const std::string& file, const std::vector<std::string>& args,
                          const std::string& folder, bool show);

// Waits until the child ended or `ms` passed (0xFFFFFFFF: no limit). True
// when it ended; then it has been reaped and the handle is empty.
bool waitForEvent(ChildProcess& child, unsigned int ms);
// Exit code of the last child reaped by waitForEvent on this thread (-1 when killed).
int lastExitCode();

// Runs a program hidden, waits for it and returns what it wrote to stdout.
std::string runCmd(const std::string& program, const std::string& parameters,
                   const std::string& folder);

// Splits a command line into words: blanks separate, double quotes group.
std::vector<std::string> splitCommandLine(const std::string& line);

}  // namespace support
