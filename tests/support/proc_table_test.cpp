// The /proc table: finding processes by name, zombies, pid reuse, and ending
// processes that are not our children.
#include "support/proc_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace support;
using namespace std::chrono_literals;

namespace {

// A forked copy of this process named `name` that waits for a signal
// (ignoring SIGTERM when asked); killed and reaped with the object.
class Named {
public:
    Named(const std::string& name, bool ignoreTerm = false) {
        pid_ = ::fork();
        if (pid_ == 0) {
            if (ignoreTerm) ::signal(SIGTERM, SIG_IGN);
            ::prctl(PR_SET_NAME, name.c_str());
            for (;;) ::pause();
        }
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            auto info = readProcess(pid_);
            if (info && info->comm == name) break;
            std::this_thread::sleep_for(5ms);
        }
    }
    ~Named() { if (pid_ > 0) { ::kill(pid_, SIGKILL); ::waitpid(pid_, nullptr, 0); } }
    pid_t pid() const { return pid_; }
    // Waits for the child to end and reaps it; the wait status.
    int reap() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = 0;
        return status;
    }

private:
    pid_t pid_ = 0;
};

bool listed(const std::vector<ProcessInfo>& list, pid_t pid) {
    return std::any_of(list.begin(), list.end(), [&](const ProcessInfo& i) { return i.pid == pid; });
}

}  // namespace

TEST(ProcTable, FindsOwnProcessesButNoZombies) {
    const std::string name = "lmpt" + std::to_string(::getpid() % 100000);
    Named child(name);
    auto info = readProcess(child.pid());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->comm, name);
    EXPECT_EQ(info->ppid, ::getpid());
    EXPECT_EQ(info->uid, static_cast<long>(::getuid()));
    EXPECT_EQ(info->exe, std::filesystem::canonical("/proc/self/exe").string());
    EXPECT_FALSE(info->zombie());
    EXPECT_TRUE(listed(ownProcesses(), child.pid()));
    EXPECT_FALSE(listed(ownProcesses(), ::getpid())) << "not this process";
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(listed(findOwnProcesses(upper), child.pid()));
    EXPECT_FALSE(listed(findOwnProcesses(name.substr(1)), child.pid())) << "whole names only";
    EXPECT_EQ(processId(child.pid()), info->id());

    // Ended but not reaped: a zombie is listed in the table, but counts as gone.
    ::kill(child.pid(), SIGKILL);
    ASSERT_TRUE(waitGone({info->id()}, 10s));
    auto zombie = readProcess(child.pid());
    ASSERT_TRUE(zombie);
    EXPECT_TRUE(zombie->zombie());
    EXPECT_TRUE(processGone(child.pid()));
    EXPECT_FALSE(processId(child.pid()));
    EXPECT_FALSE(listed(ownProcesses(), child.pid()));
    EXPECT_FALSE(listed(findOwnProcesses(name), child.pid()));
    EXPECT_TRUE(listed(listProcesses(), child.pid()));
    child.reap();
    EXPECT_FALSE(readProcess(child.pid()));
}

TEST(ProcTable, AnotherStartTimeIsAnotherProcess) {
    Named child("lmreuse");
    const auto id = processId(child.pid());
    ASSERT_TRUE(id);
    // What a recorded pid looks like once the number went to a newcomer.
    const ProcessId earlier{child.pid(), id->startTime - 1};
    EXPECT_TRUE(processGone(earlier));
    EXPECT_FALSE(signalProcess(earlier, SIGKILL));
    EXPECT_EQ(terminateProcesses({earlier}, 0ms), 1);
    EXPECT_FALSE(processGone(*id)) << "the newcomer was left alone";
    EXPECT_FALSE(signalProcess({0, 0}, SIGKILL)) << "pid 0 would name our own group";
}

TEST(ProcTable, TerminateSendsKillToWhatIgnoresTerm) {
    Named stubborn("lmstubborn", true), polite("lmpolite");
    const auto a = processId(stubborn.pid()), b = processId(polite.pid());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(terminateProcesses({*a, *b}, 100ms), 2);
    const int sa = stubborn.reap(), sb = polite.reap();
    EXPECT_TRUE(WIFSIGNALED(sa) && WTERMSIG(sa) == SIGKILL) << sa;
    EXPECT_TRUE(WIFSIGNALED(sb) && WTERMSIG(sb) == SIGTERM) << sb;
}
