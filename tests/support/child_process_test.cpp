// The child handle: start options, deadlines, TERM-then-KILL, ownership and
// reaping, and detached starts.
#include "support/child_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <type_traits>
#include <unistd.h>

#include "support/files.h"
#include "common/temp_dir.h"

using testing_support::TempDir;
using namespace support;
using namespace std::chrono_literals;

namespace {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

ChildProcess shell(const std::string& script, SpawnOptions options = {}) {
    options.program = "/bin/sh";
    options.args = {"-c", script};
    return spawn(options);
}

// A child that ignores SIGTERM, once it really does.
ChildProcess stubbornChild(const TempDir& tmp) {
    ChildProcess child = shell("trap '' TERM; : > '" + tmp / "ready" + "'; exec sleep 30");
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(tmp / "ready"); }));
    return child;
}

// No process with this pid any more, not even a zombie.
bool vanished(pid_t pid) { return !readProcess(pid).has_value(); }

}  // namespace

TEST(ChildProcess, StartOptionsReachTheChild) {
    TempDir tmp;
    ::setenv("LUMACRO3_TEST_KEPT", "kept", 1);
    ::setenv("LUMACRO3_TEST_REPLACED", "old", 1);
    SpawnOptions options;
    options.argv0 = "named-zero";
    options.env = {"LUMACRO3_TEST_REPLACED=new", "LUMACRO3_TEST_ADDED=added"};
    options.workDir = tmp.path();
    options.out = SpawnOptions::Stream::Capture;
    ChildProcess child = shell(
        "echo \"$0|$LUMACRO3_TEST_KEPT|$LUMACRO3_TEST_REPLACED|$LUMACRO3_TEST_ADDED|$(pwd)\"; "
        "echo to-stderr >&2; exit 4",
        options);
    ASSERT_TRUE(child);
    EXPECT_EQ(child.readOutput(),
              "named-zero|kept|new|added|" + std::filesystem::canonical(tmp.path()).string() + "\n");
    EXPECT_TRUE(child.wait());
    EXPECT_EQ(child.exitCode(), 4);
    EXPECT_EQ(child.termSignal(), 0);

    // stdout and stderr into one file; a capped capture still drains the child.
    options = {};
    options.out = options.err = SpawnOptions::Stream::File;
    options.file = tmp / "log.txt";
    ChildProcess logged = shell("echo out; echo err >&2", options);
    ASSERT_TRUE(logged.wait());
    std::string log;
    ASSERT_TRUE(readFile(tmp / "log.txt", log));
    EXPECT_EQ(log, "out\nerr\n");
    options = {};
    options.program = "head";
    options.args = {"-c", "300000", "/dev/zero"};
    options.out = SpawnOptions::Stream::Capture;
    ChildProcess big = spawn(options);
    EXPECT_EQ(big.readOutput(1000).size(), 1000u);
    ASSERT_TRUE(big.wait(60s));
    EXPECT_EQ(big.exitCode(), 0);

    // A new session makes the child its own session and group leader.
    options = {};
    options.program = "sleep";
    options.args = {"30"};
    options.newSession = true;
    ChildProcess leader = spawn(options);
    ASSERT_TRUE(leader);
    EXPECT_EQ(::getsid(leader.pid()), leader.pid());
    EXPECT_EQ(::getpgid(leader.pid()), leader.pid());

    std::string error;
    options.program = tmp / "missing";
    EXPECT_FALSE(spawn(options, &error));
    EXPECT_FALSE(error.empty());
}

TEST(ChildProcess, DeadlinesAndTermThenKill) {
    TempDir tmp;
    // The wait ends because the child ended, long before its deadline would.
    ChildProcess quick = shell("exit 7");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(quick.wait(60s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_EQ(quick.exitCode(), 7);
    EXPECT_FALSE(quick);
    EXPECT_FALSE(quick.wait(0ms)) << "nothing left to wait for";

    // A polite child ends on SIGTERM; a stubborn one gets SIGKILL after the grace.
    ChildProcess polite = shell("exec sleep 30");
    ASSERT_TRUE(polite.terminate(10s));
    EXPECT_EQ(polite.termSignal(), SIGTERM);

    ChildProcess stubborn = stubbornChild(tmp);
    const pid_t pid = stubborn.pid();
    EXPECT_FALSE(stubborn.wait(20ms));
    EXPECT_FALSE(processGone(pid)) << "a wait that runs out leaves the child alone";
    ASSERT_TRUE(stubborn.terminate(50ms));
    EXPECT_EQ(stubborn.termSignal(), SIGKILL);
    EXPECT_EQ(stubborn.exitCode(), -1);
    EXPECT_TRUE(vanished(pid));
}

TEST(ChildProcess, OneOwnerAndNoZombieLeft) {
    static_assert(!std::is_copy_constructible_v<ChildProcess>);
    static_assert(!std::is_copy_assignable_v<ChildProcess>);
    TempDir tmp;

    // Moving hands the child over; the moved-from handle does nothing.
    ChildProcess owner;
    pid_t first = 0;
    {
        ChildProcess a = shell("exec sleep 30");
        first = a.pid();
        owner = std::move(a);
        EXPECT_FALSE(a);
        EXPECT_EQ(a.pid(), 0);
        EXPECT_FALSE(a.signal(SIGKILL));
        EXPECT_FALSE(a.wait(0ms));
        EXPECT_TRUE(a.terminate(0ms));
    }
    EXPECT_EQ(owner.pid(), first);
    EXPECT_FALSE(processGone(first)) << "destroying the moved-from handle left the child alone";

    // Assigning another child ends and reaps the one held before.
    owner = stubbornChild(tmp);
    EXPECT_TRUE(vanished(first));

    // Destroying the handle ends the child, stubborn or already ended, and reaps it.
    const pid_t stubborn = owner.pid();
    owner.setDestroyGrace(20ms);
    owner = ChildProcess();
    EXPECT_TRUE(vanished(stubborn));
    pid_t ended = 0;
    {
        ChildProcess done = shell("exit 0");
        ended = done.pid();
        ASSERT_TRUE(waitUntil([&] { return processGone(ended); })) << "a zombie by now";
        EXPECT_FALSE(vanished(ended));
    }
    EXPECT_TRUE(vanished(ended));

    // A released child runs on and is reaped once it has ended.
    SpawnOptions options;
    options.program = "/bin/sh";
    options.args = {"-c", "sleep 0.2"};
    ChildProcess shortLived = spawn(options);
    const pid_t left = shortLived.release();
    EXPECT_FALSE(shortLived);
    EXPECT_FALSE(processGone(left));
    ASSERT_TRUE(waitUntil([&] { return processGone(left); }));
    ASSERT_TRUE(waitUntil([&] {
        reapReleasedChildren();
        return vanished(left);
    }));
}

TEST(ChildProcess, DetachedStartIsNotOurChild) {
    TempDir tmp;
    SpawnOptions options;
    options.program = "sh";  // looked up in PATH
    options.args = {"-c", "echo $PPID > ppid.tmp; mv ppid.tmp ppid"};
    options.workDir = tmp.path();
    std::string error;
    ASSERT_TRUE(startDetached(options, &error)) << error;
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(tmp / "ppid"); }));
    std::string ppid;
    ASSERT_TRUE(readFile(tmp / "ppid", ppid));
    EXPECT_NE(std::stoi(ppid), ::getpid());
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "no child of ours is left to reap";
    EXPECT_EQ(errno, ECHILD);

    options.program = tmp / "missing";
    EXPECT_FALSE(startDetached(options, &error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    options.program = "/bin/true";
    options.workDir = tmp / "missing-folder";
    EXPECT_FALSE(startDetached(options, &error));
}
