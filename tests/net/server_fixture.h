// A session server on a loopback address of the test's own, and phones that
// connect to it. The test adds its own settings and starts the server.
#pragma once

#include "common/loopback.h"
#include "common/phone_waits.h"
#include "net/session_server.h"
#include "phone/phone_client.h"
#include "platform/fakes/fake_network_adapters.h"
#include "protocol/message_names.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace net {

class ServerFixture : public ::testing::Test {
protected:
    // `addressIndex` picks the loopback address, `port` the session port:
    // each test program its own, so programs running at once do not meet.
    ServerFixture(int addressIndex, uint16_t port)
        : address_(testing_support::uniqueLoopbackAddress(addressIndex)), port_(port) {
        adapters_.set({testing_support::ipv4(address_)});
        server_ = std::make_unique<SessionServer>(adapters_, screen_);
    }
    void TearDown() override { server_.reset(); }

    // Connects and reads the greeting.
    std::unique_ptr<phone::PhoneClient> connectPhone(Json::Value* greeting = nullptr) {
        auto client = std::make_unique<phone::PhoneClient>();
        EXPECT_TRUE(client->connect(address_, port_));
        phone::ReceivedFrame frame;
        EXPECT_EQ(client->readFrame(frame, 5000), phone::ReadResult::Frame);
        EXPECT_EQ(frame.className, protocol::MsgServerInfo);
        if (greeting) *greeting = frame.message;
        return client;
    }

    // True when the server closes the connection within `timeoutMs`.
    static bool closedByServer(phone::PhoneClient& client, int timeoutMs = 5000) {
        return testing_support::closedByPeer(client, timeoutMs);
    }

    std::string address_;
    uint16_t port_;
    platform::FakeNetworkAdapters adapters_;
    platform::FakeScreenInfo screen_{1920, 1080};
    std::unique_ptr<SessionServer> server_;
};

}  // namespace net
