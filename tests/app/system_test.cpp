// Autostart entry, crash handler and the hand-overs to related programs.
#include "app_test_util.h"

#include "app/autostart.h"
#include "app/crash_handler.h"
#include "app/apk_share.h"
#include "app/integration.h"
#include "app/process_lookup.h"
#include "support/child_process.h"
#include "app/ini_settings.h"

#include <csignal>
#include <fcntl.h>
#include <cstring>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace apptest;

namespace {

TEST(Autostart, OnAndOffLeavesNothingBehind) {
    TempDir config;
    app::IniSettings store(config.path());
    const std::string appDir = "/opt/Lumacro 3/bin";
    ASSERT_TRUE(app::setAutoRun(store, true, appDir, config.path()));
    const std::string entry = readText(config / "autostart/Faroline.desktop");
    EXPECT_NE(entry.find("\nExec=\"/opt/Lumacro 3/bin/taskagent\" -start\n"), std::string::npos) << entry;
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_EQ(store.getInt("SET", "AUTO_RUN", 0), 1);
    EXPECT_TRUE(app::autoRunEntryExists(config.path()));

    ASSERT_TRUE(app::setAutoRun(store, false, appDir, config.path()));
    EXPECT_FALSE(exists(config / "autostart"));
    EXPECT_EQ(store.getInt("SET", "AUTO_RUN", 1), 0);
    // Off when already off is fine; other entries of the folder are kept.
    writeText(config / "autostart/other.desktop", "x");
    app::setAutoRun(store, true, appDir, config.path());
    EXPECT_TRUE(app::setAutoRun(store, false, appDir, config.path()));
    EXPECT_TRUE(app::setAutoRun(store, false, appDir, config.path()));
    EXPECT_EQ(readText(config / "autostart/other.desktop"), "x");
    EXPECT_FALSE(exists(config / "autostart/Faroline.desktop"));
}

TEST(Autostart, ExecQuotingFollowsTheDesktopEntryRules) {
    // Inside quotes " ` $ \ take a backslash, which the string escaping doubles; % doubles.
    EXPECT_EQ(app::desktopExecQuote("/a b/c"), "\"/a b/c\"");
    EXPECT_EQ(app::desktopExecQuote("/x\"y$z`w\\v%u"), "\"/x\\\\\"y\\\\$z\\\\`w\\\\\\\\v%%u\"");
}

// Runs `crash` in a child with the handler installed; returns the wait status.
int crashChild(const std::string& appDir, const std::string& fallback, void (*crash)()) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        app::installCrashHandler(appDir, fallback);
        crash();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

volatile int gStopRecursion = 0;

int recurse(int depth) {
    if (gStopRecursion)
        return 0;
    volatile char pad[1024];
    pad[0] = static_cast<char>(depth);
    return recurse(depth + 1) + pad[0];
}

TEST(CrashHandler, WritesTheDumpAndEndsWithTheSignal) {
    struct Case {
        int sig;
        const char* text;
        void (*crash)();
    };
    const Case cases[] = {
        {SIGSEGV, "signal: 11 (SIGSEGV)", [] {
             volatile int* volatile p = nullptr;
             *p = 1;
         }},
        {SIGABRT, "signal: 6 (SIGABRT)", [] { std::abort(); }},
        // A stack overflow only reports when the handler has its own stack.
        {SIGSEGV, "signal: 11 (SIGSEGV)", [] { recurse(0); }},
    };
    for (const Case& c : cases) {
        TempDir dir;
        int status = crashChild(dir.path(), "", c.crash);
        ASSERT_TRUE(WIFSIGNALED(status)) << c.text;
        EXPECT_EQ(WTERMSIG(status), c.sig);
        const std::string dump = readText(dir / "Lumacro3.dmp");
        EXPECT_NE(dump.find(c.text), std::string::npos) << dump;
        EXPECT_NE(dump.find("\ntime: "), std::string::npos);
        EXPECT_NE(dump.find("\nbacktrace:\n"), std::string::npos);
        EXPECT_NE(dump.find("\nend\n"), std::string::npos) << dump;
    }
    // A program folder that cannot be written: the dump goes to the fallback folder.
    TempDir fallback;
    int status = crashChild("/nonexistent/folder", fallback.path(), cases[0].crash);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_NE(readText(fallback / "Lumacro3.dmp").find("SIGSEGV"), std::string::npos);
}

TEST(CrashHandler, SaysFatalErrorOnStderr) {
    TempDir dir;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 2);
        app::installCrashHandler(dir.path(), "");
        ::raise(SIGFPE);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[256] = {};
    ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer - 1);
    ::close(pipeFds[0]);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), "Fatal Error\n");
}

class IntegrationTest : public ::testing::Test {
protected:
    TempDir appDir, config, docs;
    app::IniSettings store{config.path()};
    app::AppSettings settings{store, "Faroline", docs.path()};

    // A stand-in program that writes its arguments to "<name>.args" and waits.
    void fakeProgram(const std::string& name) {
        const std::string base = appDir / name;
        writeText(base, "#!/bin/sh\necho $$ > \"" + base + ".pid\"\necho \"$@\" > \"" + base +
                            ".args.tmp\"\nmv \"" + base + ".args.tmp\" \"" + base + ".args\"\nexec sleep 30\n");
        ::chmod((appDir / name).c_str(), 0755);
    }
    bool waitForFile(const std::string& path) {
        for (int i = 0; i < 500 && !exists(path); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return exists(path);
    }
};

TEST_F(IntegrationTest, ApkShareUrlCopiesThePackageAndEncodesItsName) {
    EXPECT_EQ(app::apkShareUrl(appDir.path(), settings.docDir(), "10.1.2.3"), "");
    writeText(appDir / "Lesson app+1 课堂.APK", "apk bytes");
    writeText(appDir / "z-later.apk", "other");
    EXPECT_EQ(app::apkShareUrl(appDir.path(), settings.docDir(), "10.1.2.3"),
              "http://10.1.2.3:27272/Recv/Lesson%20app%2B1%20%E8%AF%BE%E5%A0%82.APK");
    EXPECT_EQ(readText(settings.docDir() + "/Recv/Lesson app+1 课堂.APK"), "apk bytes");
}

TEST_F(IntegrationTest, ProcessNamesMatchCaseInsensitively) {
    EXPECT_TRUE(app::isProcessRunning("TEST_APP"));
    EXPECT_TRUE(app::isProcessRunning("test_app.exe"));
    EXPECT_FALSE(app::isProcessRunning("NoSuchProgramAnywhere42"));
    EXPECT_FALSE(app::isProcessRunning(""));
}

TEST_F(IntegrationTest, ClassroomServerStartsPlainOrWithHostAndToken) {
    fakeProgram("FarolineServer");
    {
        // Default variant: no parameters, and the started process is ended at shutdown.
        app::Integration integration(settings, appDir.path(), "");
        ASSERT_TRUE(integration.launchClassroomServer({"lumacro3", "start", "h", "t"}));
        ASSERT_TRUE(waitForFile(appDir / "FarolineServer.args"));
        EXPECT_EQ(readText(appDir / "FarolineServer.args"), "\n");
        const pid_t pid = integration.relatedProcess();
        EXPECT_GT(pid, 0);
        // A second launch keeps the newest; the older one is ended and reaped.
        ASSERT_TRUE(integration.launchClassroomServer({"lumacro3"}));
        EXPECT_NE(integration.relatedProcess(), pid);
        EXPECT_NE(::kill(pid, 0), 0) << "neither running nor a zombie";
        const pid_t second = integration.relatedProcess();
        integration.endClassroomServer();
        EXPECT_EQ(integration.relatedProcess(), 0);
        EXPECT_NE(::kill(second, 0), 0);
    }
    pid_t outliving = 0;
    {
        // A second instance only hands over: the server outlives its Integration.
        app::Integration integration(settings, appDir.path(), "");
        ASSERT_TRUE(integration.launchClassroomServer({"lumacro3"}));
        outliving = integration.relatedProcess();
    }
    EXPECT_EQ(::kill(outliving, 0), 0);
    ::kill(outliving, SIGKILL);
    for (int i = 0; i < 500 && support::reapReleasedChildren() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(::kill(outliving, 0), 0) << "reaped once it ended";
    fs::remove(appDir / "FarolineServer.args");
    {
        app::Integration integration(settings, appDir.path(), app::kClassroomHandOverProductId);
        ASSERT_TRUE(integration.launchClassroomServer({"lumacro3", "start", "host 1", "tok\"en"}));
        ASSERT_TRUE(waitForFile(appDir / "FarolineServer.args"));
        EXPECT_EQ(readText(appDir / "FarolineServer.args"), "host 1 tok\"en\n");
        integration.endClassroomServer();
    }
    // Not installed: nothing starts.
    fs::remove(appDir / "FarolineServer");
    app::Integration integration(settings, appDir.path(), "");
    EXPECT_FALSE(integration.launchClassroomServer({"lumacro3"}));
}

TEST_F(IntegrationTest, MirroringAndEbookStartWhenInstalled) {
    CapturedLog log;
    app::Integration integration(settings, appDir.path(), "");
    integration.openEbook();
    integration.postToWindow(1234, 0x557, 0, 0);
    EXPECT_NE(log.text().find("e-book reader not installed"), std::string::npos);
    EXPECT_NE(log.text().find("message 0x557"), std::string::npos);

    fakeProgram("Zintra");
    integration.openEbook();
    EXPECT_TRUE(waitForFile(appDir / "Zintra.args"));
    fakeProgram("CastSink");
    integration.miracastDisplay();
    EXPECT_TRUE(waitForFile(appDir / "CastSink.args"));
    // They outlive us as they would outlive the program; end them here.
    for (const char* name : {"Zintra", "CastSink"}) {
        const pid_t pid = std::atoi(readText(appDir / (std::string(name) + ".pid")).c_str());
        ASSERT_GT(pid, 1);
        ::kill(pid, SIGKILL);
    }
}

}  // namespace
