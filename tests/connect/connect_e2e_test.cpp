// The program as a teacher starts it: the connect window appears on the
// screen by itself and a phone's reader finds the connect payload in it.
#include "common/loopback.h"
#include "common/private_xvfb.h"
#include "common/run_command.h"
#include "e2e/pc_program.h"

#include "ui/connect/connect_payload.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

TEST(ConnectWindowOnScreen, ShownAtStartWithAReadableCode) {
    testing_support::PrivateXvfb display(1366, 768);
    ASSERT_FALSE(display.display().empty()) << "no Xvfb";
    const std::string address = testing_support::uniqueLoopbackAddress(73);
    e2e::PcProgram program(address);
    ASSERT_TRUE(program.waitForLog("main window created")) << program.log();

    const std::string payload = ui::welcome::connectPayload(address);
    const std::string shot = program.home() + "/screen.png";
    std::string read;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (read != payload && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        testing_support::runCommand("import -window root " + shot + " 2>/dev/null");
        read = testing_support::commandOutput("zbarimg --raw -q -Sbinary " + shot + " 2>/dev/null");
    }
    EXPECT_EQ(read, payload);

    // Standard output is no terminal here and logging is on: the payload and
    // its code in half blocks are in the log.
    const std::string log = program.log();
    std::string line = payload;
    line.pop_back();
    EXPECT_NE(log.find("connect payload " + line), std::string::npos) << log;
    EXPECT_NE(log.find("\u2588\u2580\u2580\u2580\u2580\u2580\u2588"), std::string::npos);  // a finder pattern's top
    EXPECT_EQ(program.terminate(), 0) << program.log();
}

namespace {

std::string readScreen(const std::string& shot) {
    testing_support::runCommand("import -window root " + shot + " 2>/dev/null");
    return testing_support::commandOutput("zbarimg --raw -q -Sbinary " + shot + " 2>/dev/null");
}

}  // namespace

TEST(ConnectWindowOnScreen, HiddenAtStartThenShownByASecondStart) {
    testing_support::PrivateXvfb display(1366, 768);
    ASSERT_FALSE(display.display().empty()) << "no Xvfb";
    char pattern[] = "/tmp/lumacro3-e2e-XXXXXX";
    const std::string home = ::mkdtemp(pattern);
    std::filesystem::create_directories(home + "/config/Quorvel");
    std::ofstream(home + "/config/Quorvel/Lumacro3.ini") << "[SET]\nAUTO_HIDE=1\n";
    const std::string address = testing_support::uniqueLoopbackAddress(73);
    const std::string payload = ui::welcome::connectPayload(address);
    const std::string shot = home + "/screen.png";
    {
        e2e::PcProgram::Options options;
        options.home = home;
        e2e::PcProgram first(address, options);
        ASSERT_TRUE(first.waitForLog("main window created")) << first.log();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past the 200 ms show timer
        EXPECT_EQ(readScreen(shot), "");

        e2e::PcProgram second(address, options);
        EXPECT_EQ(second.wait(10000), 0) << second.log();
        std::string read;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (read != payload && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            read = readScreen(shot);
        }
        EXPECT_EQ(read, payload);
        EXPECT_EQ(first.terminate(), 0) << first.log();
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
}
