// taskagent -kill-one and -kill, and the lock and helper records they rely on.
#include "taskagent_test_util.h"

#include "app/helper_registry.h"
#include "app/single_instance.h"
#include "taskagent/taskagent.h"

#include <sys/prctl.h>

using namespace tatest;

namespace {

const char kSleep[] = "/bin/sleep";

// Each test gets its own runtime folder, in this process and in taskagent.
class TaskagentProcessTest : public ::testing::Test {
protected:
    TempDir runtime, work;
    ScopedEnv runtimeEnv{"XDG_RUNTIME_DIR", runtime.path()};
    Children children;
    std::map<std::string, std::string> env{{"XDG_RUNTIME_DIR", runtime.path()}};
    // Short enough to fit in /proc/PID/comm, unique per test process.
    std::string unique(const std::string& stem) const { return stem + std::to_string(::getpid() % 100000); }
};

}  // namespace

TEST_F(TaskagentProcessTest, KillOneMatchesCommExeAndArgv0IgnoringCaseAndExe) {
    const std::string name = unique("lmkill"), copy = work / name;
    ASSERT_TRUE(copyProgram(kSleep, copy));
    ASSERT_TRUE(copyProgram(kSleep, copy + "x"));
    pid_t byAll = children.spawn(copy, copy, "30");
    pid_t byArgv0 = children.spawn(kSleep, "/nowhere/" + name, "30");
    pid_t byComm = children.forkRunning([&] { ::prctl(PR_SET_NAME, name.c_str()); });
    pid_t longerName = children.spawn(copy + "x", copy + "x", "30");
    pid_t otherUser = 0;
    if (::geteuid() == 0) {
        otherUser = children.forkRunning([&] {
            if (::setuid(65534) == 0)
                ::prctl(PR_SET_NAME, name.c_str());
        });
    }
    for (pid_t pid : {byComm, byAll, otherUser}) {
        if (pid) {
            ASSERT_TRUE(waitUntil([&] { return comm(pid) == name + "\n"; }, 2000));
        }
    }
    ASSERT_TRUE(waitUntil([&] { return comm(byArgv0) == "sleep\n"; }, 2000));

    std::string upper = name;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    RunResult r = runTaskagent({"-kill-one", "C:\\Program Files\\Quorvel\\" + upper + ".exe"}, env);
    EXPECT_EQ(r.code, 0) << r.err;
    // The three stay unreaped zombies of this test: they count as ended.
    EXPECT_NE(r.out.find("ended 3 of 3"), std::string::npos) << r.out;
    for (pid_t pid : {byAll, byArgv0, byComm})
        EXPECT_TRUE(children.exitsWithin(pid, 2000));
    EXPECT_TRUE(children.alive(longerName));
    if (otherUser) {
        EXPECT_TRUE(children.alive(otherUser));
    }

    r = runTaskagent({"-kill-one", unique("lmnothing") + ".exe"}, env);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("ended 0 of 0"), std::string::npos) << r.out;
}

TEST_F(TaskagentProcessTest, KillEndsRegisteredHelpersOnly) {
    const std::string webExe = work / "web", ftpExe = work / "ftp", otherExe = work / "other";
    for (const auto& exe : {webExe, ftpExe, otherExe})
        ASSERT_TRUE(copyProgram(kSleep, exe));
    ASSERT_EQ(::symlink(ftpExe.c_str(), (work / "ftp-link").c_str()), 0);
    pid_t web = children.spawn(webExe, webExe, "30");
    pid_t ftp = children.spawn(ftpExe, ftpExe, "30");
    pid_t reused = children.spawn(otherExe, otherExe, "30");
    pid_t unregistered = children.spawn(otherExe, otherExe, "30");
    pid_t dead = children.spawn(kSleep, "sleep", "0");
    ASSERT_TRUE(children.exitsWithin(dead, 2000));
    for (pid_t pid : {web, ftp, reused})  // until exec replaced the forked test image
        ASSERT_TRUE(waitUntil([&] { return support::processExe(pid).rfind(work.path(), 0) == 0; }, 2000));

    ASSERT_TRUE(app::recordHelper("web", web, webExe));
    ASSERT_TRUE(app::recordHelper("ftp", ftp, work / "ftp-link"));     // recorded through a symlink
    ASSERT_TRUE(app::recordHelper("slide", reused, "/usr/sbin/nginx"));  // pid now runs something else
    ASSERT_TRUE(app::recordHelper("old", dead, webExe));
    ASSERT_TRUE(writeText(app::helpersDir() + "/broken.pid", "12ab\n/bin/x\n"));

    RunResult r = runTaskagent({"-kill"}, env);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("ended 2 of 2"), std::string::npos) << r.out;
    EXPECT_TRUE(children.exitsWithin(web, 2000));
    EXPECT_TRUE(children.exitsWithin(ftp, 2000));
    EXPECT_TRUE(children.alive(reused));
    EXPECT_TRUE(children.alive(unregistered));
    EXPECT_TRUE(fs::is_empty(app::helpersDir())) << "stale and damaged records are removed";
    EXPECT_EQ(runTaskagent({"-kill"}, env).code, 0);
}

TEST_F(TaskagentProcessTest, HelperRecordsRefuseUnsafeInputAndSkipDamagedFiles) {
    EXPECT_TRUE(app::recordHelper("nginx", 4242, "/usr/sbin/nginx"));
    EXPECT_TRUE(app::recordHelper("ftp_server-2", 77, "/usr/bin/python3"));
    EXPECT_TRUE(app::recordHelper("nginx", 4343, "/usr/sbin/nginx"));  // replaces
    for (const std::string bad : {"", "../escape", "a/b", ".hidden", "x\ny"})
        EXPECT_FALSE(app::recordHelper(bad, 1, "/bin/true")) << bad;
    EXPECT_FALSE(app::recordHelper("zero", 0, "/bin/true"));
    EXPECT_FALSE(app::recordHelper("newline", 5, "/bin/true\n666"));
    EXPECT_FALSE(app::forgetHelper("../nginx"));
    ASSERT_TRUE(writeText(app::helpersDir() + "/trunc.pid", "55\n/bin/x"));  // no final line feed
    ASSERT_TRUE(writeText(app::helpersDir() + "/huge.pid", "99999999999\n/bin/x\n"));

    auto list = app::listHelpers();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name + " " + std::to_string(list[0].pid) + " " + list[0].exe, "ftp_server-2 77 /usr/bin/python3");
    EXPECT_EQ(list[1].name + " " + std::to_string(list[1].pid) + " " + list[1].exe, "nginx 4343 /usr/sbin/nginx");
    EXPECT_EQ(app::removeDamagedHelperRecords(), 2);
    EXPECT_TRUE(app::forgetHelper("nginx"));
    EXPECT_EQ(app::listHelpers().size(), 1u);
}

TEST_F(TaskagentProcessTest, SingleInstanceLockIsExclusiveAndNotInherited) {
    ASSERT_EQ(app::SingleInstance::lockPath(), runtime / "Lumacro3.lock");
    EXPECT_FALSE(app::SingleInstance::isRunning());
    auto first = std::make_unique<app::SingleInstance>();
    ASSERT_TRUE(first->acquire());
    app::SingleInstance second;
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(app::SingleInstance::isRunning());
    EXPECT_EQ(app::SingleInstance::runningPid(), ::getpid());

    // A program started while the lock is held must not keep it after its exec.
    pid_t child = children.spawn(kSleep, "sleep", "30");
    ASSERT_TRUE(waitUntil([&] { return comm(child) == "sleep\n"; }, 2000));
    first.reset();
    EXPECT_FALSE(app::SingleInstance::isRunning());
    EXPECT_EQ(app::SingleInstance::runningPid(), 0);
    EXPECT_TRUE(second.acquire());

    // A pid left in an unlocked file is not reported; a planted symlink is not followed.
    second.release();
    ASSERT_TRUE(writeText(app::SingleInstance::lockPath(), "12345\n", 0600));
    EXPECT_EQ(app::SingleInstance::runningPid(), 0);
    ASSERT_TRUE(writeText(work / "victim", "keep"));
    fs::remove(app::SingleInstance::lockPath());
    ASSERT_EQ(::symlink((work / "victim").c_str(), app::SingleInstance::lockPath().c_str()), 0);
    EXPECT_FALSE(second.acquire());
    EXPECT_EQ(readText(work / "victim"), "keep");
}
