// Starting the program detached and waiting for the previous copy to end.
#include "taskagent/taskagent.h"

#include "app/single_instance.h"
#include "support/child_process.h"
#include "support/files.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace taskagent {

std::string programPath() {
    const char* over = std::getenv("LUMACRO3_PROGRAM");
    if (over && *over)
        return over;
    return support::getAppDir() + "/lumacro3";
}

bool startDetached(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "no program path";
        return false;
    }
    // The program runs in its own folder, so a relative path is made absolute first.
    std::string program = path;
    if (program[0] != '/') {
        char cwd[4096];
        if (!::getcwd(cwd, sizeof cwd)) {
            error = std::strerror(errno);
            return false;
        }
        program = std::string(cwd) + "/" + program;
    }
    const size_t slash = program.rfind('/');
    support::SpawnOptions options;
    options.program = program;
    options.workDir = slash == 0 ? "/" : program.substr(0, slash);
    return support::startDetached(options, &error);
}

bool waitForExit(pid_t pid, int timeoutMs) {
    const auto timeout = std::chrono::milliseconds(timeoutMs);
    if (pid > 0) {
        // Taken once, so a newcomer that gets the pid later is not waited for.
        const auto id = support::processId(pid);
        return !id || support::waitGone({*id}, timeout);
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    while (app::SingleInstance::isRunning()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

}  // namespace taskagent
