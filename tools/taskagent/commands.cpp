// Command-line dispatch and the process commands.
#include "taskagent/taskagent.h"

#include "app/helper_registry.h"
#include "support/logger.h"
#include "support/strings.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace taskagent {

namespace {

const char kUsageText[] =
    "usage: taskagent -run [PID]                      start the program once PID (or the running copy) ended\n"
    "       taskagent -start                          start the program\n"
    "       taskagent -kill                           end the helpers the program started\n"
    "       taskagent -kill-one NAME                  end the own processes named NAME\n"
    "       taskagent -cfg DOCDIR HTTPPORT FTPPORT [ADDRESS]\n"
    "                                                 write the web and FTP server configuration\n"
    "       taskagent -fix-ppt                        repair the presentation program setup\n";

int usage() {
    std::fputs(kUsageText, stderr);
    return kUsage;
}

bool parsePid(const std::string& text, pid_t& pid) {
    if (text.empty() || text.size() > 10)
        return false;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value <= 0 || value > INT_MAX)
        return false;
    pid = static_cast<pid_t>(value);
    return true;
}

bool exeMatches(pid_t pid, const std::string& recorded) {
    std::string actual = support::processExe(pid);
    if (actual.empty())
        return false;
    if (actual == recorded)
        return true;
    // The program may record a symlink (/usr/bin/python3) of the real binary.
    char* real = ::realpath(recorded.c_str(), nullptr);
    bool same = real && actual == real;
    std::free(real);
    return same;
}

int startProgram(const char* command) {
    std::string path = programPath();
    std::string error;
    if (!startDetached(path, error)) {
        std::fprintf(stderr, "taskagent: cannot start %s: %s\n", path.c_str(), error.c_str());
        LOGOUT("%s: cannot start %s: %s", command, path.c_str(), error.c_str());
        return kFailed;
    }
    LOGOUT("%s: started %s", command, path.c_str());
    return kOk;
}

}  // namespace

int cmdRun(pid_t pid, int timeoutMs) {
    if (!waitForExit(pid, timeoutMs)) {
        // Starting anyway would put a second copy next to one that hangs.
        std::fprintf(stderr, "taskagent: the program is still running, not starting it again\n");
        LOGOUT("run: the program (pid %d) did not end within %d ms; giving up", static_cast<int>(pid),
               timeoutMs);
        return kFailed;
    }
    return startProgram("run");
}

int cmdStart() {
    return startProgram("start");
}

int cmdKillOne(const std::string& name) {
    std::vector<support::ProcessId> pids = findProcesses(name);
    int ended = support::terminateProcesses(pids, std::chrono::milliseconds(kTermGraceMs));
    std::printf("kill-one %s: ended %d of %zu\n", name.c_str(), ended, pids.size());
    LOGOUT("kill-one %s: ended %d of %zu", name.c_str(), ended, pids.size());
    return ended == static_cast<int>(pids.size()) ? kOk : kFailed;
}

int cmdKill() {
    int damaged = app::removeDamagedHelperRecords();
    if (damaged > 0)
        LOGOUT("kill: removed %d damaged helper records", damaged);

    const long uid = static_cast<long>(::getuid());
    std::vector<app::HelperRecord> toEnd;
    std::vector<support::ProcessId> ids;
    for (const app::HelperRecord& record : app::listHelpers()) {
        // Identified once, so that the checks below and the signals later name
        // the same process even if the pid changes hands meanwhile.
        const auto id = support::processId(record.pid);
        if (!id) {
            app::forgetHelper(record.name);
            continue;
        }
        // A pid that now belongs to another program (or user) is left alone.
        if (support::processUid(record.pid) != uid || !exeMatches(record.pid, record.exe) ||
            support::processGone(*id)) {
            LOGOUT("kill: pid %d is no longer helper %s; record dropped", static_cast<int>(record.pid),
                   record.name.c_str());
            app::forgetHelper(record.name);
            continue;
        }
        toEnd.push_back(record);
        ids.push_back(*id);
    }

    int ended = support::terminateProcesses(ids, std::chrono::milliseconds(kTermGraceMs));
    for (size_t i = 0; i < toEnd.size(); ++i) {
        if (support::processGone(ids[i]))
            app::forgetHelper(toEnd[i].name);
        else
            LOGOUT("kill: helper %s (pid %d) could not be ended", toEnd[i].name.c_str(),
                   static_cast<int>(toEnd[i].pid));
    }
    std::printf("kill: ended %d of %zu helpers\n", ended, toEnd.size());
    LOGOUT("kill: ended %d of %zu helpers", ended, toEnd.size());
    return ended == static_cast<int>(toEnd.size()) ? kOk : kFailed;
}

int cmdFixPpt() {
    LOGOUT("fix-ppt: nothing to repair");
    return kOk;
}

int runCommandLine(const std::vector<std::string>& args) {
    if (args.empty())
        return usage();
    const std::string& command = args[0];
    const size_t extra = args.size() - 1;
    if (command == "-run" && extra <= 1) {
        pid_t pid = 0;
        if (extra == 1 && !parsePid(args[1], pid)) {
            std::fprintf(stderr, "taskagent: -run: not a process id: %s\n", args[1].c_str());
            return kUsage;
        }
        return cmdRun(pid, kRunWaitMs);
    }
    if (command == "-start" && extra == 0)
        return cmdStart();
    if (command == "-kill" && extra == 0)
        return cmdKill();
    if (command == "-kill-one" && extra == 1 && !args[1].empty())
        return cmdKillOne(args[1]);
    if (command == "-cfg" && (extra == 3 || (extra == 4 && support::isDottedIPv4(args[4]))))
        return cmdCfg(args[1], args[2], args[3], extra == 4 ? args[4] : std::string());
    if (command == "-fix-ppt" && extra == 0)
        return cmdFixPpt();
    return usage();
}

}  // namespace taskagent
