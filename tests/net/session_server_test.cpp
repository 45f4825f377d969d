// The session server on loopback sockets, driven by the reference phone client.
#include "net/server_fixture.h"
#include "phone/discovery.h"
#include "common/eventually.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace net {
namespace {

using namespace std::chrono_literals;
using testing_support::ipv4;

constexpr uint16_t kPort = 40873;  // the tests' own session port

struct Event {
    int socket;
    int event;
    std::string className;
    Json::Value message;
    std::string data;
    uint32_t peer;
};

class EventLog {
public:
    SessionCallback callback() {
        return [this](int socket, const sockaddr_in* peer, const std::string& className,
                      const Json::Value& message, const uint8_t* data, size_t length, int event,
                      void*) {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back({socket, event, className, message,
                               std::string(reinterpret_cast<const char*>(data), length),
                               peer ? peer->sin_addr.s_addr : 0});
            changed_.notify_all();
            return 0;
        };
    }
    // Waits until `count` events of the kind have arrived.
    bool waitCount(int event, size_t count, std::chrono::milliseconds timeout = 3000ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return countLocked(event) >= count; });
    }
    size_t count(int event) {
        std::lock_guard<std::mutex> lock(mutex_);
        return countLocked(event);
    }
    std::vector<Event> all() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
    size_t countLocked(int event) {
        size_t n = 0;
        for (const auto& e : events_) n += e.event == event;
        return n;
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

class RecordingRecorder : public RecordControl {
public:
    void startDefault() override { ++starts; }
    void stop() override { ++stops; }
    std::atomic<int> starts{0}, stops{0};
};

class SessionServerTest : public ServerFixture {
protected:
    SessionServerTest() : ServerFixture(1, kPort) {}
    void SetUp() override {
        server_->setServerName("Classroom 1");
        server_->setRecorder(&recorder_);
        uint32_t bound = 0;
        ASSERT_TRUE(server_->start(bound, kPort, log_.callback(), nullptr));
        ASSERT_EQ(bound, ipv4(address_));
    }

    std::unique_ptr<phone::PhoneClient> readyPhone(std::optional<bool> admin, const std::string& id) {
        auto client = connectPhone();
        phone::ClientInfoOptions options;
        options.uniqueId = id;
        options.admin = admin;
        const size_t before = log_.count(kClientReady);
        EXPECT_TRUE(client->handshake(options));
        EXPECT_TRUE(log_.waitCount(kClientReady, before + 1));
        return client;
    }

    RecordingRecorder recorder_;
    EventLog log_;
};

TEST_F(SessionServerTest, GreetsEveryPhoneFirstWithServerInfo) {
    Json::Value info;
    auto phone = connectPhone(&info);
    EXPECT_EQ(info["serverId"].asInt64(), server_->serverId());
    EXPECT_EQ(info["name"].asString(), "Classroom 1");
    EXPECT_EQ(info["platform"].asString(), "pc");
    EXPECT_EQ(info["screenWidth"].asInt(), 1920);
    EXPECT_EQ(info["screenHeight"].asInt(), 1080);
    EXPECT_TRUE(info["useable"].asBool());
    EXPECT_EQ(info["versionCode"].asInt(), 20161207);
    EXPECT_EQ(info["versionName"].asString(), "3.2.2");
    EXPECT_EQ(info["ftpUrl"].asString(), "ftp://ftpd:Nq4vT8wa@" + address_ + ":17171/");
    EXPECT_EQ(info["httpUrl"].asString(), "http://" + address_ + ":27272/");
    EXPECT_TRUE(info.isMember("maxClients"));
    EXPECT_EQ(info["dataLength"].asInt(), 0);
}

TEST_F(SessionServerTest, OneAdminAtATime) {
    phone::ClientInfoOptions first;
    first.uniqueId = "teacher";
    first.tag = "pad";
    first.width = 2048;
    first.height = 1536;
    auto admin = connectPhone();
    ASSERT_TRUE(admin->handshake(first));
    ASSERT_TRUE(log_.waitCount(kClientReady, 1));
    EXPECT_TRUE(server_->anyAdmin());
    EXPECT_EQ(server_->controllerTag(), "pad");
    EXPECT_EQ(server_->controllerWidth(), 2048);

    // Further phones are told the PC is taken.
    Json::Value info;
    auto second = connectPhone(&info);
    EXPECT_FALSE(info["useable"].asBool());

    // Without "admin" a phone is an admin candidate: refused, closed, no ready event.
    phone::ClientInfoOptions candidate;
    candidate.uniqueId = "other";
    ASSERT_TRUE(second->handshake(candidate));
    EXPECT_TRUE(closedByServer(*second));
    EXPECT_EQ(log_.count(kClientReady), 1u);
    EXPECT_TRUE(log_.waitCount(kClientGone, 1));

    // A watcher ("admin" false) is accepted and leaves the profile alone.
    phone::ClientInfoOptions watcher;
    watcher.uniqueId = "watcher";
    watcher.admin = false;
    watcher.tag = "phone";
    auto third = connectPhone();
    ASSERT_TRUE(third->handshake(watcher));
    ASSERT_TRUE(log_.waitCount(kClientReady, 2));
    EXPECT_EQ(server_->controllerTag(), "pad");
    EXPECT_FALSE(server_->isAdmin(third->socket()));

    // The admin leaving clears the profile and frees the PC.
    // The gone event is reported while the session is still listed (the
    // dispatcher asks whether the leaving phone was the admin), so the profile
    // clears just after it.
    admin->close();
    ASSERT_TRUE(log_.waitCount(kClientGone, 2));
    EXPECT_TRUE(testing_support::eventually([&] { return server_->controllerTag().empty(); }));
    EXPECT_EQ(server_->controllerTag(), "");
    EXPECT_EQ(server_->controllerWidth(), 0);
    EXPECT_FALSE(server_->anyAdmin());
}

TEST_F(SessionServerTest, IdentityFromMacAndNoIdentityAtAll) {
    auto anonymous = connectPhone();
    ASSERT_TRUE(anonymous->handshake({}));  // neither uniqueId nor mac
    ASSERT_TRUE(log_.waitCount(kClientReady, 1));
    EXPECT_FALSE(server_->anyIdentified());

    // An unidentified admin does not block a real one.
    phone::ClientInfoOptions byMac;
    byMac.mac = "00:11:22:33:44:55";
    auto phone = connectPhone();
    ASSERT_TRUE(phone->handshake(byMac));
    ASSERT_TRUE(log_.waitCount(kClientReady, 2));
    EXPECT_TRUE(server_->anyAdmin());
    std::vector<uint32_t> addresses;
    EXPECT_EQ(server_->identifiedAddresses(addresses), 1u);
    EXPECT_EQ(addresses[0], ipv4("127.0.0.1"));  // the client's source address
}

TEST_F(SessionServerTest, NatCheckSendsCapabilitiesOnlyToThePhoneBehindNat) {
    phone::ClientInfoOptions same;
    same.uniqueId = "a";
    same.admin = false;
    same.ftpUrl = "ftp://user:pw@127.0.0.1:2121/";  // the client connects from 127.0.0.1
    phone::ClientInfoOptions nat = same;
    nat.uniqueId = "b";
    nat.ftpUrl = "ftp://user:pw@192.168.1.20:2121/";
    phone::ClientInfoOptions noAt = same;
    noAt.uniqueId = "c";
    noAt.ftpUrl = "ftp://192.168.1.20:2121/";

    auto a = connectPhone();
    auto b = connectPhone();
    auto c = connectPhone();
    ASSERT_TRUE(a->handshake(same));
    ASSERT_TRUE(b->handshake(nat));
    ASSERT_TRUE(c->handshake(noAt));
    ASSERT_TRUE(log_.waitCount(kClientReady, 3));
    server_->send("probe", Json::Value(Json::objectValue), nullptr, 0, -1);

    phone::ReceivedFrame frame;
    ASSERT_EQ(b->readFrame(frame, 3000), phone::ReadResult::Frame);
    EXPECT_EQ(frame.className, protocol::MsgCapabilities);
    EXPECT_FALSE(frame.message["clientFtpSupported"].asBool());
    EXPECT_TRUE(frame.message["clientFtpSupported"].isBool());
    EXPECT_EQ(frame.message["what"].asInt(), 0);
    for (auto* p : {a.get(), b.get(), c.get()}) {
        ASSERT_EQ(p->readFrame(frame, 3000), phone::ReadResult::Frame);
        EXPECT_EQ(frame.className, "probe");
    }
}

TEST_F(SessionServerTest, MessagesReachTheCallbackInOrderWithTheirTails) {
    auto phone = readyPhone(true, "t");
    const std::vector<uint8_t> tail(700000, 0x5a);  // larger than one coalesced write
    for (int i = 0; i < 50; ++i) {
        Json::Value m(Json::objectValue);
        m["i"] = i;
        ASSERT_TRUE(phone->sendMessage("com.quorvel.qm.msg.MsgKeyEvent", m));
    }
    ASSERT_TRUE(phone->sendMessage(protocol::MsgFile, Json::Value(Json::objectValue), tail));
    ASSERT_TRUE(log_.waitCount(kMessage, 51));
    int expected = 0;
    for (const auto& e : log_.all()) {
        if (e.event != kMessage) continue;
        if (expected < 50) {
            EXPECT_EQ(e.message["i"].asInt(), expected);
            EXPECT_EQ(e.peer, ipv4("127.0.0.1"));
        } else {
            EXPECT_EQ(e.data.size(), tail.size());
            EXPECT_EQ(e.message["dataLength"].asUInt(), tail.size());
        }
        ++expected;
    }

    // A frame larger than the coalescing limit goes out whole.
    server_->send("big", Json::Value(Json::objectValue), tail.data(), tail.size(), -1);
    phone::ReceivedFrame frame;
    ASSERT_EQ(phone->waitFor("big", frame, 3000), phone::ReadResult::Frame);
    EXPECT_EQ(frame.data, tail);
}

TEST_F(SessionServerTest, KeepAlivesFlowWhileIdle) {
    auto phone = readyPhone(false, "w");
    phone::ReceivedFrame frame;
    for (int i = 0; i < 30 && phone->keepAlives() == 0; ++i)
        EXPECT_EQ(phone->readFrame(frame, 100), phone::ReadResult::Timeout);
    EXPECT_GE(phone->keepAlives(), 1u);
}

TEST_F(SessionServerTest, BadFramesEndTheSessionOrAreDropped) {
    auto phone = readyPhone(true, "t");
    // msgJson that does not parse: dropped, the session goes on.
    const std::string head = R"({"className":"A","msgJson":"{oops"})";
    std::string raw(8, '\0');
    writeLE32(reinterpret_cast<uint8_t*>(&raw[0]), uint32_t(head.size() + 4));
    writeLE32(reinterpret_cast<uint8_t*>(&raw[4]), uint32_t(head.size()));
    ASSERT_TRUE(phone->sendRaw(raw + head));
    // A handshake field of the wrong type is dropped too.
    Json::Value info(Json::objectValue);
    info["uniqueId"] = "x";
    info["admin"] = "yes";
    ASSERT_TRUE(phone->sendMessage(protocol::MsgClientInfo, info));
    ASSERT_TRUE(phone->sendMessage("after", Json::Value(Json::objectValue)));
    ASSERT_TRUE(log_.waitCount(kMessage, 1));
    EXPECT_EQ(log_.all().back().className, "after");
    EXPECT_EQ(log_.count(kClientReady), 1u);

    // totalLength 3 ends it: the phone is reported gone and the socket closed.
    ASSERT_TRUE(phone->sendRaw(std::string("\x03\x00\x00\x00", 4)));
    EXPECT_TRUE(closedByServer(*phone));
    EXPECT_TRUE(log_.waitCount(kClientGone, 1));
    EXPECT_EQ(server_->sessionCount(), 0u);
}

TEST_F(SessionServerTest, SendTargetsOnePhoneOrAllAndNobodyIsFine) {
    server_->send("nobody", Json::Value(Json::objectValue), nullptr, 0, -1);
    server_->send("nobody", Json::Value(Json::objectValue), nullptr, 0, 12345);
    auto a = readyPhone(false, "a");
    auto b = readyPhone(false, "b");
    int socketOfB = -1;
    for (const auto& e : log_.all())
        if (e.event == kClientReady) socketOfB = e.socket;
    server_->send("one", Json::Value(Json::objectValue), nullptr, 0, socketOfB);
    server_->send("all", Json::Value(Json::objectValue), nullptr, 0, -1);
    phone::ReceivedFrame frame;
    ASSERT_EQ(a->readFrame(frame, 3000), phone::ReadResult::Frame);
    EXPECT_EQ(frame.className, "all");
    ASSERT_EQ(b->readFrame(frame, 3000), phone::ReadResult::Frame);
    EXPECT_EQ(frame.className, "one");
    ASSERT_EQ(b->readFrame(frame, 3000), phone::ReadResult::Frame);
    EXPECT_EQ(frame.className, "all");
}

TEST_F(SessionServerTest, DisconnectAllEmptiesTheServerAndMakesItBusy) {
    auto a = readyPhone(true, "a");
    auto b = readyPhone(false, "b");
    server_->disconnectAll();
    EXPECT_FALSE(server_->anyIdentified());
    EXPECT_TRUE(closedByServer(*a));
    EXPECT_TRUE(closedByServer(*b));
    EXPECT_TRUE(server_->isBusy());
    auto reply = phone::discover(address_, protocol::kDiscoveryPort, 2000);
    ASSERT_TRUE(reply.has_value());
    EXPECT_FALSE(reply->info["useable"].asBool());
    Json::Value info;
    auto c = connectPhone(&info);
    EXPECT_FALSE(info["useable"].asBool());
}

TEST_F(SessionServerTest, ShutdownWithPhonesConnectedReportsNoGoneEvents) {
    auto a = readyPhone(true, "a");
    auto b = readyPhone(false, "b");
    server_->shutdown();
    EXPECT_EQ(log_.count(kClientGone), 0u);
    EXPECT_TRUE(closedByServer(*a));
    EXPECT_FALSE(server_->isRunning());
}

TEST_F(SessionServerTest, APhoneThatStopsReadingIsClosedNotBuffered) {
    server_->setSendQueueLimit(2u << 20);
    auto phone = readyPhone(false, "slow");
    const std::vector<uint8_t> chunk(256 * 1024, 1);
    // Far more than the socket buffers and the limit together can hold.
    for (int i = 0; i < 200 && server_->sessionCount() > 0; ++i) {
        server_->send("bulk", Json::Value(Json::objectValue), chunk.data(), chunk.size(), -1);
        if (i % 20 == 19) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(log_.waitCount(kClientGone, 1, 5000ms));
}

TEST_F(SessionServerTest, DiscoveryAnswersOnlyAnExactHelloWhileNoAdminIsConnected) {
    auto reply = phone::discover(address_, protocol::kDiscoveryPort, 2000);
    ASSERT_TRUE(reply.has_value());
    EXPECT_TRUE(reply->info["useable"].asBool());
    EXPECT_EQ(reply->info["serverId"].asInt64(), server_->serverId());

    for (std::string text : {std::string("Hello"), std::string("hello\n"), std::string("hello\0x", 7),
                             std::string(2048, 'h')}) {
        EXPECT_FALSE(phone::sendDatagram(address_, protocol::kDiscoveryPort, text, 300).has_value());
    }

    auto watcher = readyPhone(false, "w");
    EXPECT_TRUE(phone::discover(address_, protocol::kDiscoveryPort, 2000).has_value());
    auto admin = readyPhone(true, "t");
    EXPECT_FALSE(phone::discover(address_, protocol::kDiscoveryPort, 400).has_value());
}

TEST_F(SessionServerTest, RecordDatagramsReplyWhetherOrNotAnythingRecords) {
    auto stopped = phone::sendDatagram(address_, protocol::kDiscoveryPort, "stop-record", 2000);
    ASSERT_TRUE(stopped.has_value());
    EXPECT_EQ(*stopped, std::string("recorder-stoped"));
    auto started = phone::sendDatagram(address_, protocol::kDiscoveryPort, "start-record", 2000);
    ASSERT_TRUE(started.has_value());
    EXPECT_EQ(*started, std::string("recorder-started"));
    EXPECT_EQ(recorder_.starts.load(), 1);
    EXPECT_EQ(recorder_.stops.load(), 1);

    server_->setRecorder(nullptr);
    EXPECT_EQ(phone::sendDatagram(address_, protocol::kDiscoveryPort, "stop-record", 2000).value_or(""),
              "recorder-stoped");
}

TEST(SessionServerStart, AddressChoiceAndFailures) {
    platform::FakeScreenInfo screen;
    const std::string first = testing_support::uniqueLoopbackAddress(2);
    const std::string second = first.substr(0, first.rfind('.')) + ".1";
    platform::FakeNetworkAdapters adapters({ipv4(first), ipv4(second)});
    EventLog log;
    {
        SessionServer server(adapters, screen);
        uint32_t requested = ipv4(second);
        ASSERT_TRUE(server.start(requested, kPort, log.callback(), nullptr));
        EXPECT_EQ(requested, ipv4(second));
    }
    {
        SessionServer server(adapters, screen);
        uint32_t gone = ipv4("127.9.9.9");
        ASSERT_TRUE(server.start(gone, kPort, log.callback(), nullptr));
        EXPECT_EQ(gone, ipv4(first));

        // The port is taken now: a second server fails and can try again later.
        SessionServer other(adapters, screen);
        uint32_t same = ipv4(first);
        EXPECT_FALSE(other.start(same, kPort, log.callback(), nullptr));
        EXPECT_FALSE(other.isRunning());
    }
    platform::FakeNetworkAdapters none;
    SessionServer server(none, screen);
    uint32_t any = 0;
    EXPECT_FALSE(server.start(any, kPort, log.callback(), nullptr));
}

}  // namespace
}  // namespace net
