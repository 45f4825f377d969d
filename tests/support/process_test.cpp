#include "support/process.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/files.h"
#include "support/strings.h"
#include "common/temp_dir.h"

using testing_support::TempDir;
using testing_support::writeText;
using namespace support;

TEST(Process, SplitCommandLine) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitCommandLine("  a\t\"b  c\" d\"\"e \"\" "), (V{"a", "b  c", "de", ""}));
    EXPECT_EQ(splitCommandLine("x\"y z\"w"), (V{"xy zw"}));
    EXPECT_EQ(splitCommandLine("   "), V{});
    EXPECT_EQ(splitCommandLine("\"unterminated a"), (V{"unterminated a"}));
}

TEST(Process, WaitReportsExitCodeAndResetsHandle) {
    TempDir tmp;
    ChildProcess h = simpleShellExecute("sh", tmp.path(), "-c \"exit 3\"", false);
    ASSERT_TRUE(h);
    EXPECT_TRUE(waitForEvent(h, 10000));
    EXPECT_EQ(h.pid(), 0);
    EXPECT_EQ(lastExitCode(), 3);
    EXPECT_FALSE(waitForEvent(h, 0));  // nothing left to wait for
}

TEST(Process, WaitTimesOutThenSeesAKilledChild) {
    ChildProcess h = spawnProcess("sleep", {"30"}, "", false);
    ASSERT_TRUE(h);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(waitForEvent(h, 50));
    // The wait ran out: never early, and the child is still there.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    ASSERT_GT(h.pid(), 0);
    EXPECT_FALSE(processGone(h.pid()));
    kill(h.pid(), SIGKILL);
    EXPECT_TRUE(waitForEvent(h, 0xFFFFFFFF));
    EXPECT_EQ(lastExitCode(), -1);
}

TEST(Process, FailedStartGivesNoProcess) {
    TempDir tmp;
    writeText(tmp / "data.txt", "not a program");
    EXPECT_EQ(simpleShellExecute("/no/such/program", "", "", false).pid(), 0);
    EXPECT_EQ(simpleShellExecute("no-such-program-lumacro3", "", "", false).pid(), 0);
    EXPECT_EQ(simpleShellExecute("sh", tmp / "missing-folder", "-c true", false).pid(), 0);
    EXPECT_EQ(simpleShellExecute(tmp / "data.txt", "", "", false).pid(), 0);
    EXPECT_EQ(spawnProcess("", {}, "", false).pid(), 0);
}

TEST(Process, RelativeProgramAndFolder) {
    TempDir tmp;
    ASSERT_EQ(::mkdir((tmp / "bin").c_str(), 0755), 0);
    writeText(tmp / "bin/tool", "#!/bin/sh\necho \"$1\" > out.txt\n");
    ASSERT_EQ(chmod((tmp / "bin/tool").c_str(), 0755), 0);
    ChildProcess h = simpleShellExecute("./bin/tool", tmp.path(), "\"two words\"", false);
    ASSERT_TRUE(h);
    ASSERT_TRUE(waitForEvent(h, 10000));
    EXPECT_EQ(lastExitCode(), 0);
    std::string out;
    ASSERT_TRUE(readFile(tmp / "out.txt", out));
    EXPECT_EQ(out, "two words\n");
}

TEST(Process, RunCmdCapturesAllOutput) {
    TempDir tmp;
    EXPECT_EQ(runCmd("sh", "-c \"printf 'a b'; echo noise >&2\"", ""), "a b");
    EXPECT_EQ(runCmd("pwd", "", tmp.path()), std::filesystem::canonical(tmp.path()).string() + "\n");
    // More than a pipe holds: output must be read while the child runs.
    EXPECT_EQ(runCmd("head", "-c 300000 /dev/zero", "").size(), 300000u);
    EXPECT_EQ(runCmd("no-such-program-lumacro3", "", ""), "");
}

TEST(Process, ChildGetsNoStrayDescriptorsAndDefaultSignals) {
    const int plain = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(plain, 0);
    const int high = fcntl(plain, F_DUPFD, 100);
    ASSERT_GE(high, 100);
    const auto fds = strSplit(runCmd("ls", "/proc/self/fd", ""), "\n");
    EXPECT_EQ(std::find(fds.begin(), fds.end(), std::to_string(high)), fds.end());
    EXPECT_EQ(std::find(fds.begin(), fds.end(), std::to_string(plain)), fds.end());
    close(high);
    close(plain);

    // This process ignores SIGPIPE; the child must not inherit that.
    struct sigaction current{};
    sigaction(SIGPIPE, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    // (glibc itself keeps its two internal real-time signals, 32 and 33, ignored.)
    const std::string line = runCmd("grep", "SigIgn /proc/self/status", "");
    ASSERT_EQ(line.rfind("SigIgn:\t", 0), 0u) << line;
    EXPECT_EQ(std::stoull(line.substr(8), nullptr, 16) & 0x7FFFFFFFull, 0u) << line;
}
