// The program's life as a user sees it: one instance, "quit", start-up without
// a network, and the order of its shutdown.
#include "common/loopback.h"
#include "pc_program.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace {

using e2e::PcProgram;

// Positions of `lines` in `log`, in order; fails when one is missing or out of order.
void expectInOrder(const std::string& log, const std::vector<std::string>& lines) {
    size_t at = 0;
    for (const auto& line : lines) {
        const size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
        at = found + line.size();
    }
}

void writeSettings(const std::string& home, const std::string& text) {
    std::filesystem::create_directories(home + "/config/Quorvel");
    std::ofstream(home + "/config/Quorvel/Lumacro3.ini") << text;
}

TEST(AppShell, QuitFromASecondStartEndsTheFirstInShutdownOrder) {
    PcProgram first(testing_support::uniqueLoopbackAddress(51));
    ASSERT_TRUE(first.waitForLog("start-up complete")) << first.log();

    PcProgram::Options quit;
    quit.args = {"quit"};
    quit.home = first.home();
    PcProgram second(first.address(), quit);
    EXPECT_EQ(second.wait(10000), 0) << second.log();
    ASSERT_EQ(first.wait(15000), 0) << first.log();

    expectInOrder(first.log(), {"main window created", "start-up complete", "main window destroyed",
                                "Main Dialog End", "myftp & nginx closed", "actHandler cleared",
                                "ScreenCaptureService destroyed", "netSrv freed", "threadpool freed",
                                "Lumacro3 ended"});
    // The second start never became a program of its own.
    EXPECT_EQ(second.log().find("start-up complete"), std::string::npos) << second.log();
}

TEST(AppShell, SecondStartShowsTheConnectWindowOfTheFirst) {
    PcProgram::Options options;
    PcProgram first(testing_support::uniqueLoopbackAddress(51));
    ASSERT_TRUE(first.waitForLog("start-up complete")) << first.log();
    const size_t before = first.log().size();

    options.home = first.home();
    PcProgram second(first.address(), options);
    EXPECT_EQ(second.wait(10000), 0) << second.log();
    ASSERT_TRUE(first.waitForLog("UM_SHOW_CONNECT")) << first.log();
    EXPECT_GT(first.log().size(), before);
    EXPECT_EQ(first.terminate(), 0) << first.log();
}

TEST(AppShell, QuitWithoutARunningInstanceStartsNormally) {
    PcProgram::Options options;
    options.args = {"quit"};
    PcProgram program(testing_support::uniqueLoopbackAddress(51), options);
    ASSERT_TRUE(program.waitForLog("start-up complete")) << program.log();
    EXPECT_TRUE(program.waitReady());
    EXPECT_EQ(program.terminate(), 0) << program.log();
}

TEST(AppShell, StartsWithoutANetworkAndWritesItsDefaults) {
    // A network namespace of our own has no adapter but a loopback that is down.
    if (std::system("unshare -n true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no network namespaces here";
    PcProgram::Options options;
    options.prefix = {"/usr/bin/unshare", "-n"};
    options.listenOnAddress = false;
    PcProgram program("127.0.0.1", options);
    ASSERT_TRUE(program.waitForLog("start-up complete")) << program.log();
    EXPECT_NE(program.log().find("running without a session server"), std::string::npos);
    EXPECT_EQ(program.terminate(), 0) << program.log();

    // The settings file now holds the document folder it made.
    std::ifstream ini(program.home() + "/config/Quorvel/Lumacro3.ini");
    std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("DOC_DIR"), std::string::npos) << text;
    struct stat st {};
    EXPECT_EQ(::stat((program.home() + "/Documents/Faroline/Recv").c_str(), &st), 0) << text;
}

TEST(AppShell, DebugSettingsChooseWhereTheLogGoes) {
    char pattern[] = "/tmp/lumacro3-e2e-XXXXXX";
    const std::string home = ::mkdtemp(pattern);
    writeSettings(home, "[DBG]\non=1\nfile=0\n");
    PcProgram::Options options;
    options.home = home;
    options.env = {"LUMACRO3_LOG=0"};
    {
        PcProgram program(testing_support::uniqueLoopbackAddress(51), options);
        ASSERT_TRUE(program.waitForLog("start-up complete")) << program.log();
        EXPECT_EQ(program.terminate(), 0);
    }
    writeSettings(home, "[DBG]\non=0\nfile=0\n");
    {
        PcProgram program(testing_support::uniqueLoopbackAddress(51), options);
        ASSERT_TRUE(program.waitReady());
        EXPECT_EQ(program.terminate(), 0);
        EXPECT_EQ(program.log().find("start-up complete"), std::string::npos) << program.log();
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
}

}  // namespace
