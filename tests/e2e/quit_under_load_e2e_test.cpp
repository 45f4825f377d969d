// Quitting while phones keep sending: four phones stream voice, live-view,
// edit-text and spotlight messages into a recording program until it ends.
// The program must end cleanly, in its shutdown order, every time.
// LUMACRO3_QUIT_REPEAT sets how many rounds one run makes (default 3).
#include "common/loopback.h"
#include "pc_program.h"
#include "phone/phone_client.h"
#include "protocol/message_names.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using e2e::PcProgram;

int repeatCount() {
    const char* text = std::getenv("LUMACRO3_QUIT_REPEAT");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 3;
}

// One phone: handshake, then a steady mix of messages until the PC closes
// the session or `stop` is set. Counts the messages it got out.
class BusyPhone {
public:
    BusyPhone(const std::string& address, int index, std::atomic<bool>& stop)
        : address_(address), index_(index), stop_(stop) {}

    bool connect() {
        if (!client_.connect(address_)) return false;
        phone::ClientInfoOptions info;
        info.uniqueId = "quit-phone-" + std::to_string(index_);
        info.admin = index_ == 0;
        return client_.handshake(info);
    }

    void run() {
        using namespace protocol;
        // The first phone asks for a recording with its voice in it.
        if (index_ == 0) {
            Json::Value record;
            record["action"] = 1;
            record["enableClientVoice"] = true;
            send(MsgMediaRecord, record);
        }
        std::vector<uint8_t> voice(256);
        for (size_t i = 0; i < voice.size(); ++i) voice[i] = uint8_t(i * 7 + index_);
        Json::Value empty(Json::objectValue);
        for (int round = 0; !stop_.load(); ++round) {
            Json::Value live;
            live["action"] = round % 2 == 0 ? 1 : 0;
            Json::Value text;
            text["content"] = "line " + std::to_string(round);
            Json::Value spot;
            spot["action"] = round % 4;
            if (!send(MsgVoiceData, empty, voice.data(), voice.size()) || !send(MsgLive, live) ||
                !send(MsgEditText, text) || !send(MsgSpot, spot))
                break;
            // Take what the PC sends (live pictures, states) so it never waits for us.
            phone::ReceivedFrame frame;
            while (client_.readFrame(frame, 0) == phone::ReadResult::Frame) {
            }
        }
        client_.close();
    }

    int sent() const { return sent_.load(); }

private:
    bool send(const char* className, const Json::Value& message, const void* tail = nullptr,
              size_t length = 0) {
        if (!client_.sendMessage(className, message, tail, length)) return false;
        ++sent_;
        return true;
    }

    std::string address_;
    int index_;
    std::atomic<bool>& stop_;
    phone::PhoneClient client_;
    std::atomic<int> sent_{0};
};

TEST(QuitUnderLoad, FourBusyPhonesDoNotKeepTheProgramFromEndingCleanly) {
    std::signal(SIGPIPE, SIG_IGN);
    const int rounds = repeatCount();
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        PcProgram program(testing_support::uniqueLoopbackAddress(53));
        ASSERT_TRUE(program.waitForLog("start-up complete")) << program.log();
        ASSERT_TRUE(program.waitReady()) << program.log();

        std::atomic<bool> stop{false};
        std::vector<std::unique_ptr<BusyPhone>> phones;
        for (int i = 0; i < 4; ++i) {
            phones.push_back(std::make_unique<BusyPhone>(program.address(), i, stop));
            ASSERT_TRUE(phones.back()->connect()) << "phone " << i << "\n" << program.log();
        }
        std::vector<std::thread> threads;
        for (auto& phone : phones) threads.emplace_back([&phone] { phone->run(); });

        // Quit once every phone is well into its stream, while they keep going.
        const auto busyBy = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        auto allBusy = [&] {
            for (const auto& phone : phones)
                if (phone->sent() < 200) return false;
            return true;
        };
        while (!allBusy() && std::chrono::steady_clock::now() < busyBy)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const bool busy = allBusy();
        const int exitCode = program.terminate();
        stop = true;
        for (auto& t : threads) t.join();

        const std::string log = program.log();
        ASSERT_TRUE(busy) << log;
        ASSERT_EQ(exitCode, 0) << log;
        EXPECT_EQ(log.find("AddressSanitizer"), std::string::npos) << log;
        EXPECT_EQ(log.find("runtime error"), std::string::npos) << log;
        size_t at = 0;
        for (const char* line : {"main window destroyed", "Main Dialog End", "myftp & nginx closed",
                                 "actHandler cleared", "ScreenCaptureService destroyed", "netSrv freed",
                                 "threadpool freed", "Lumacro3 ended"}) {
            const size_t found = log.find(line, at);
            ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
            at = found;
        }
    }
}

}  // namespace
