// The built lumacro3 program serving on its own loopback address, driven by
// the reference phone client and the lumacro3-phone tool.
#include "common/loopback.h"
#include "pc_program.h"
#include "loopback_fakes.h"
#include "phone/discovery.h"
#include "phone/phone_client.h"
#include "protocol/constants.h"
#include "protocol/message_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using namespace std::chrono_literals;
using phone::PhoneClient;
using phone::ReadResult;
using phone::ReceivedFrame;

const std::string kBinDir = LUMACRO3_BIN_DIR;

class PcServer : public ::testing::Test {
protected:
    void SetUp() override {
        pc_ = std::make_unique<e2e::PcProgram>(testing_support::uniqueLoopbackAddress(50));
        ASSERT_TRUE(pc_->waitReady()) << pc_->log();
    }
    void TearDown() override {
        EXPECT_EQ(pc_->terminate(), 0) << pc_->log();
    }

    // Connects and checks that MsgServerInfo is the very first frame.
    std::unique_ptr<PhoneClient> connectPhone(Json::Value* greeting = nullptr) {
        auto client = std::make_unique<PhoneClient>();
        EXPECT_TRUE(client->connect(pc_->address(), protocol::kSessionPort, 3000)) << client->lastError();
        ReceivedFrame frame;
        EXPECT_EQ(client->readFrame(frame, 3000), ReadResult::Frame);
        EXPECT_EQ(frame.className, protocol::MsgServerInfo);
        if (greeting) *greeting = frame.message;
        return client;
    }

    std::unique_ptr<PhoneClient> handshaken(std::optional<bool> admin, const std::string& id) {
        auto client = connectPhone();
        phone::ClientInfoOptions options;
        options.uniqueId = id;
        options.admin = admin;
        EXPECT_TRUE(client->handshake(options)) << client->lastError();
        return client;
    }

    // Reads until the PC closes the session; false if it stays open for
    // `timeoutMs` or sends a message first.
    static bool closedWithoutReply(PhoneClient& client, int timeoutMs) {
        ReceivedFrame frame;
        ReadResult r = client.readFrame(frame, timeoutMs);
        EXPECT_NE(r, ReadResult::Frame) << frame.className;
        return r == ReadResult::Closed;
    }

    // True when the session is still open after `ms`. Messages may arrive
    // (a ready phone is sent the states of the PC's tools); they are read and dropped.
    static bool staysOpen(PhoneClient& client, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     end - std::chrono::steady_clock::now())
                                     .count());
            ReceivedFrame frame;
            ReadResult r = client.readFrame(frame, std::max(left, 0));
            if (r == ReadResult::Timeout) return true;
            if (r != ReadResult::Frame) return false;
        }
    }

    std::optional<bool> helloUseable(int timeoutMs = 1500) {
        auto reply = phone::discover(pc_->address(), protocol::kDiscoveryPort, timeoutMs);
        if (!reply) return std::nullopt;
        return reply->info["useable"].asBool();
    }

    std::unique_ptr<e2e::PcProgram> pc_;
};

TEST_F(PcServer, GreetsEveryPhoneAndAnswersHello) {
    Json::Value greeting;
    auto phone = connectPhone(&greeting);
    EXPECT_EQ(greeting["platform"].asString(), "pc");
    EXPECT_EQ(greeting["versionCode"].asInt(), protocol::kVersionCode);
    EXPECT_EQ(greeting["versionName"].asString(), protocol::kVersionName);
    EXPECT_TRUE(greeting["useable"].asBool());
    EXPECT_EQ(greeting["ftpUrl"].asString(), "ftp://ftpd:Nq4vT8wa@" + pc_->address() + ":17171/");
    EXPECT_EQ(greeting["httpUrl"].asString(), "http://" + pc_->address() + ":27272/");
    EXPECT_EQ(greeting["dataLength"].asInt(), 0);

    auto reply = phone::discover(pc_->address(), protocol::kDiscoveryPort, 2000);
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->info["useable"].asBool());
    EXPECT_EQ(reply->info["serverId"].asInt64(), greeting["serverId"].asInt64());

    // Only the exact word is a discovery request.
    EXPECT_FALSE(phone::sendDatagram(pc_->address(), protocol::kDiscoveryPort, "Hello", 300));
    EXPECT_FALSE(phone::sendDatagram(pc_->address(), protocol::kDiscoveryPort, "hello\n", 300));
}

TEST_F(PcServer, OneAdminAtATimeWatchersWelcome) {
    auto admin = handshaken(true, "phone-a");
    ASSERT_TRUE(staysOpen(*admin, 300));

    // While an admin is connected the PC reports itself not useable and
    // ignores "hello".
    Json::Value greeting;
    auto rival = connectPhone(&greeting);
    EXPECT_FALSE(greeting["useable"].asBool());
    EXPECT_FALSE(helloUseable(800).has_value());

    // A second admin candidate (no "admin" field counts as admin) is dropped
    // without a reply.
    phone::ClientInfoOptions candidate;
    candidate.uniqueId = "phone-b";
    ASSERT_TRUE(rival->handshake(candidate));
    EXPECT_TRUE(closedWithoutReply(*rival, 2500));

    // A watching phone is accepted and kept.
    auto watcher = handshaken(false, "phone-c");
    EXPECT_TRUE(staysOpen(*watcher, 1500));
    EXPECT_TRUE(staysOpen(*admin, 10));

    // Once the admin leaves, the PC is free again.
    admin->close();
    std::optional<bool> useable;
    for (int i = 0; i < 20 && useable != true; ++i) useable = helloUseable(500);
    EXPECT_EQ(useable, true);
    auto next = handshaken(true, "phone-d");
    EXPECT_TRUE(staysOpen(*next, 1500));
}

TEST_F(PcServer, KeepAlivesAndRecordDatagrams) {
    auto phone = handshaken(false, "keep-alive-watcher");
    ASSERT_TRUE(staysOpen(*phone, 3000));
    EXPECT_GE(phone->keepAlives(), 2u);  // one about every 1.1 s
    EXPECT_LE(phone->keepAlives(), 3u);

    auto reply = phone::sendDatagram(pc_->address(), protocol::kDiscoveryPort, "stop-record", 2000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, std::string("recorder-stoped"));
}

TEST_F(PcServer, ToolWatchesAndTheProgramEndsCleanlyWithPhonesConnected) {
    auto admin = handshaken(true, "admin-stays");
    e2e::ProgramResult watch = e2e::runProgram(
        kBinDir + "/lumacro3-phone",
        {"watch", "--address", pc_->address(), "--seconds", "2.5"}, {"PATH=/usr/bin:/bin"});
    EXPECT_EQ(watch.exitCode, 0) << watch.err;
    EXPECT_EQ(watch.out.rfind("com.quorvel.qm.msg.MsgServerInfo {", 0), 0u) << watch.out;
    EXPECT_NE(watch.out.find("\"useable\":false"), std::string::npos) << watch.out;
    const size_t count = watch.out.find("keep-alives: ");
    ASSERT_NE(count, std::string::npos) << watch.out;
    EXPECT_GE(std::atoi(watch.out.c_str() + count + 13), 1) << watch.out;
    // TearDown sends SIGTERM with the admin still connected.
}

}  // namespace
