// taskagent -run, -start, -fix-ppt and command-line handling.
#include "taskagent_test_util.h"

#include "app/single_instance.h"
#include "taskagent/taskagent.h"

using namespace tatest;

namespace {

class TaskagentRunTest : public ::testing::Test {
protected:
    TempDir runtime, work;
    ScopedEnv runtimeEnv{"XDG_RUNTIME_DIR", runtime.path()};
    Children children;
    std::string marker = work / "started", program = work / "fake-lumacro3";
    std::map<std::string, std::string> env{
        {"XDG_RUNTIME_DIR", runtime.path()}, {"LUMACRO3_PROGRAM", program}, {"LUMACRO3_LOG", "1"}};

    // Stands in for the program: records its /proc stat line, stdin and folder.
    void SetUp() override {
        ASSERT_TRUE(writeText(program, "#!/bin/sh\n{ cat /proc/$$/stat; readlink /proc/$$/fd/0; pwd; } > '" +
                                           marker + ".tmp' && mv '" + marker + ".tmp' '" + marker + "'\n",
                              0755));
    }
    bool started(int ms = 3000) const {
        return waitUntil([&] { return exists(marker); }, ms);
    }
    // The fake program ran in another session, stdin on /dev/null, in its own folder.
    void expectDetached() const {
        std::istringstream lines(readText(marker));
        std::string stat, stdinTarget, folder, state, ppid, pgrp, session;
        std::getline(lines, stat);
        std::getline(lines, stdinTarget);
        std::getline(lines, folder);
        std::istringstream(stat.substr(stat.rfind(')') + 1)) >> state >> ppid >> pgrp >> session;
        EXPECT_NE(std::stol(session), static_cast<long>(::getsid(0)));
        EXPECT_EQ(stdinTarget, "/dev/null");
        EXPECT_EQ(folder, work.path());
    }
};

}  // namespace

TEST_F(TaskagentRunTest, RunWaitsForTheLockHolderThenStartsDetached) {
    auto holder = std::make_unique<app::SingleInstance>();
    ASSERT_TRUE(holder->acquire());
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(exists(marker)) << "started while the lock was held";
        holder.reset();
    });
    RunResult r = runTaskagent({"-run"}, env);
    releaser.join();
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_GE(r.ms, 250);
    ASSERT_TRUE(started());
    expectDetached();
}

TEST_F(TaskagentRunTest, RunWithPidWaitsForThatProcess) {
    // The sleeper stays an unreaped zombie while taskagent runs; that counts as
    // ended (else taskagent would give up after its wait and exit with 1).
    pid_t previous = children.spawn("/bin/sleep", "sleep", "0.3");
    RunResult r = runTaskagent({"-run", std::to_string(previous)}, env);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_GE(r.ms, 200);
    EXPECT_TRUE(started());
    for (const char* bad : {"12ab", "0", "-5", "99999999999"})
        EXPECT_EQ(runTaskagent({"-run", bad}, env).code, 2) << bad;
}

TEST_F(TaskagentRunTest, RunGivesUpWithoutStartingASecondCopy) {
    ScopedEnv programEnv("LUMACRO3_PROGRAM", program);
    pid_t hanging = children.spawn("/bin/sleep", "sleep", "30");
    EXPECT_EQ(taskagent::cmdRun(hanging, 300), 1);
    app::SingleInstance holder;
    ASSERT_TRUE(holder.acquire());
    EXPECT_EQ(taskagent::cmdRun(0, 300), 1);
    EXPECT_FALSE(started(200));
}

TEST_F(TaskagentRunTest, StartRunsTheProgramAndReportsFailures) {
    RunResult r = runTaskagent({"-start"}, env);
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(started());
    expectDetached();

    env["LUMACRO3_PROGRAM"] = work / "missing";
    r = runTaskagent({"-start"}, env);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("missing"), std::string::npos) << r.err;
    ASSERT_TRUE(writeText(work / "not-executable", "#!/bin/sh\n", 0644));
    env["LUMACRO3_PROGRAM"] = work / "not-executable";
    EXPECT_EQ(runTaskagent({"-start"}, env).code, 1);
}

TEST_F(TaskagentRunTest, FixPptAndCommandLineErrors) {
    RunResult r = runTaskagent({"-fix-ppt"}, env);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("fix-ppt: nothing to repair"), std::string::npos) << r.out;

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"-bogus"}, {"run"}, {"-start", "x"}, {"-kill", "x"}, {"-fix-ppt", "x"}, {"-run", "1", "2"},
             {"-kill-one"}, {"-kill-one", ""}, {"-cfg", "/tmp", "80"}, {"-cfg", "/tmp", "80", "21", "x"}}) {
        RunResult u = runTaskagent(args, env);
        EXPECT_EQ(u.code, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_NE(u.err.find("usage"), std::string::npos);
    }
    EXPECT_FALSE(exists(marker));
}
