// Runs a shell command for a test and collects what it printed.
#pragma once

#include <cstdio>
#include <string>

namespace testing_support {

struct CommandResult {
    int status = -1;  // as pclose reports it
    std::string output;
};

inline CommandResult runCommand(const std::string& command) {
    CommandResult r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
    r.status = ::pclose(pipe);
    return r;
}

inline std::string commandOutput(const std::string& command) { return runCommand(command).output; }

}  // namespace testing_support
