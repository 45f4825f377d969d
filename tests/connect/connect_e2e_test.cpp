// The program as a teacher starts it: the connect window appears on the
// screen by itself and a phone's reader finds the connect payload in it.
#include "common/loopback.h"
#include "common/private_xvfb.h"
#include "common/run_command.h"
#include "e2e/pc_program.h"

#include "ui/connect/connect_payload.h"

#include <chrono>
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
