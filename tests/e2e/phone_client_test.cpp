// The reference phone client against loopback stand-ins for the PC.
#include "phone/discovery.h"
#include "phone/phone_client.h"

#include "loopback_fakes.h"
#include "net/frame_codec.h"
#include "protocol/message_names.h"

#include <gtest/gtest.h>

#include <set>

using namespace std::chrono_literals;
using e2e::FakeTcpPeer;
using e2e::FakeUdpResponder;
using phone::PhoneClient;
using phone::ReadResult;
using phone::ReceivedFrame;

namespace {

Json::Value object(std::initializer_list<std::pair<const char*, Json::Value>> members) {
    Json::Value v(Json::objectValue);
    for (const auto& [key, value] : members) v[key] = value;
    return v;
}

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t(i * 7 + 3);
    return bytes;
}

std::set<std::string> memberNames(const Json::Value& v) {
    auto names = v.getMemberNames();
    return {names.begin(), names.end()};
}

// A client connected to a fresh fake peer.
struct Connected : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(client.connect("127.0.0.1", peer.port(), 2000)) << client.lastError();
        ASSERT_TRUE(peer.accept());
    }
    FakeTcpPeer peer;
    PhoneClient client;
    ReceivedFrame frame;
};

using PhoneClientRead = Connected;
using PhoneClientWaitFor = Connected;
using PhoneClientSend = Connected;

TEST_F(PhoneClientRead, ReturnsFramesWithTailsAndCountsKeepAlivesBetweenThem) {
    peer.writeKeepAlive();
    peer.write(net::encodeFrame(protocol::MsgLiveData, object({{"keyFrame", true}}), "abc", 3));
    peer.writeKeepAlive();
    peer.writeKeepAlive();
    peer.write(net::encodeFrame(protocol::MsgBrushState, object({{"state", 1}}), nullptr, 0));

    ASSERT_EQ(client.readFrame(frame, 2000), ReadResult::Frame);
    EXPECT_EQ(frame.className, protocol::MsgLiveData);
    EXPECT_TRUE(frame.message["keyFrame"].asBool());
    EXPECT_EQ(frame.message["dataLength"].asInt(), 3);
    EXPECT_EQ(std::string(frame.data.begin(), frame.data.end()), "abc");

    ASSERT_EQ(client.readFrame(frame, 2000), ReadResult::Frame);
    EXPECT_EQ(frame.className, protocol::MsgBrushState);
    EXPECT_EQ(frame.message["state"].asInt(), 1);
    EXPECT_TRUE(frame.data.empty());  // a tail from the previous frame must not linger

    EXPECT_EQ(client.readFrame(frame, 50), ReadResult::Timeout);
    EXPECT_EQ(client.keepAlives(), 3u);
}

TEST_F(PhoneClientRead, KeepsPartialBytesAcrossTimeoutsWhenFramesArriveByteByByte) {
    std::vector<uint8_t> bytes = {0, 0};  // half a keep-alive, completed below
    std::vector<uint8_t> rest = {0, 0};
    auto encoded = net::encodeFrame(protocol::MsgSpotState, object({{"state", 2}}), "xyz", 3);
    rest.insert(rest.end(), encoded->begin(), encoded->end());

    std::thread writer([&] {
        peer.write(bytes);
        std::this_thread::sleep_for(20ms);
        for (uint8_t b : rest) {
            peer.write(&b, 1);
            std::this_thread::sleep_for(1ms);
        }
    });
    int timeouts = 0;
    ReadResult r;
    while ((r = client.readFrame(frame, 5)) == ReadResult::Timeout && timeouts < 2000) ++timeouts;
    writer.join();

    ASSERT_EQ(r, ReadResult::Frame);
    EXPECT_GT(timeouts, 0);  // the frame really came in pieces
    EXPECT_EQ(frame.className, protocol::MsgSpotState);
    EXPECT_EQ(frame.message["state"].asInt(), 2);
    EXPECT_EQ(std::string(frame.data.begin(), frame.data.end()), "xyz");
    EXPECT_EQ(client.keepAlives(), 1u);
}

TEST_F(PhoneClientRead, AcceptsTheLargestFrameAndItsTailIntact) {
    // totalLength 0xFFFFFF is the largest valid value. The head's length depends
    // only on the digit count of "dataLength", so measure it with a tail of the
    // same magnitude first.
    std::vector<uint8_t> probe(16000000);
    const size_t headLength = net::readLE32(
        net::encodeFrame(protocol::MsgLiveData, Json::Value(), probe.data(), probe.size())->data() + 4);
    const std::vector<uint8_t> tail = pattern(0xFFFFFF - 4 - headLength);
    auto big = net::encodeFrame(protocol::MsgLiveData, Json::Value(), tail.data(), tail.size());
    ASSERT_EQ(net::readLE32(big->data()), 0xFFFFFFu);

    std::thread writer([&] { peer.write(big); });
    ReadResult r = client.readFrame(frame, 10000);
    writer.join();
    ASSERT_EQ(r, ReadResult::Frame);
    EXPECT_EQ(frame.data, tail);
}

TEST_F(PhoneClientRead, OutOfRangeTotalLengthIsInvalidForGood) {
    peer.writeLE32(net::kMaxTotalLength);
    peer.write(net::encodeFrame(protocol::MsgScreenState, object({{"state", 1}}), nullptr, 0));
    EXPECT_EQ(client.readFrame(frame, 2000), ReadResult::Invalid);
    EXPECT_NE(client.lastError().find("totalLength"), std::string::npos);
    // The frame boundaries are lost: what follows must not be read as a frame.
    EXPECT_EQ(client.readFrame(frame, 200), ReadResult::Invalid);

    FakeTcpPeer other;
    PhoneClient tooShort;
    ASSERT_TRUE(tooShort.connect("127.0.0.1", other.port(), 2000) && other.accept());
    other.writeLE32(3);
    EXPECT_EQ(tooShort.readFrame(frame, 2000), ReadResult::Invalid);
}

TEST_F(PhoneClientRead, MalformedFrameIsInvalidButTheNextFrameIsRead) {
    // headLength runs past the frame.
    peer.writeLE32(10);
    peer.writeLE32(7);
    peer.write("abcdef", 6);
    // A head that is not JSON.
    peer.writeLE32(4 + 5);
    peer.writeLE32(5);
    peer.write("nope!", 5);
    // msgJson that is not an object.
    std::string head = "{\"className\":\"x\",\"msgJson\":\"[1]\"}";
    peer.writeLE32(uint32_t(4 + head.size()));
    peer.writeLE32(uint32_t(head.size()));
    peer.write(head.data(), head.size());
    peer.write(net::encodeFrame(protocol::MsgGlassState, object({{"state", 0}}), nullptr, 0));

    EXPECT_EQ(client.readFrame(frame, 2000), ReadResult::Invalid);
    EXPECT_NE(client.lastError().find("headLength"), std::string::npos);
    EXPECT_EQ(client.readFrame(frame, 2000), ReadResult::Invalid);
    EXPECT_EQ(client.readFrame(frame, 2000), ReadResult::Invalid);
    ASSERT_EQ(client.readFrame(frame, 2000), ReadResult::Frame);
    EXPECT_EQ(frame.className, protocol::MsgGlassState);
}

TEST_F(PhoneClientRead, PeerCloseGivesBufferedFramesFirstThenClosed) {
    peer.write(net::encodeFrame(protocol::MsgLiveClose, Json::Value(), nullptr, 0));
    auto cut = net::encodeFrame(protocol::MsgLiveClose, Json::Value(), nullptr, 0);
    peer.write(cut->data(), cut->size() - 3);  // closes in the middle of a frame
    peer.closeConnection();

    ASSERT_EQ(client.readFrame(frame, 2000), ReadResult::Frame);
    EXPECT_EQ(frame.className, protocol::MsgLiveClose);
    EXPECT_EQ(client.readFrame(frame, 2000), ReadResult::Closed);
    EXPECT_EQ(client.readFrame(frame, 0), ReadResult::Closed);
}

TEST_F(PhoneClientWaitFor, SkipsOtherClassesAndKeepsThemInArrivalOrder) {
    for (const char* name : {protocol::MsgBrushState, protocol::MsgSpotState,
                             protocol::MsgServerInfo, protocol::MsgGlassState})
        peer.write(net::encodeFrame(name, Json::Value(), nullptr, 0));

    ASSERT_EQ(client.waitFor(protocol::MsgServerInfo, frame, 2000), ReadResult::Frame);
    EXPECT_EQ(frame.className, protocol::MsgServerInfo);
    EXPECT_EQ(client.pendingCount(), 2u);
    EXPECT_EQ(client.skippedCount(), 2u);

    // Waiting for one that was put aside takes it without touching the socket.
    ASSERT_EQ(client.waitFor(protocol::MsgSpotState, frame, 0), ReadResult::Frame);
    EXPECT_EQ(frame.className, protocol::MsgSpotState);

    // A class that never comes: time-out, and what arrived meanwhile is kept.
    EXPECT_EQ(client.waitFor(protocol::MsgLiveOpen, frame, 200), ReadResult::Timeout);
    ASSERT_EQ(client.readFrame(frame, 0), ReadResult::Frame);
    EXPECT_EQ(frame.className, protocol::MsgBrushState);
    ASSERT_EQ(client.readFrame(frame, 0), ReadResult::Frame);
    EXPECT_EQ(frame.className, protocol::MsgGlassState);
    EXPECT_EQ(client.pendingCount(), 0u);

    peer.closeConnection();
    EXPECT_EQ(client.waitFor(protocol::MsgLiveOpen, frame, 2000), ReadResult::Closed);
}

TEST_F(PhoneClientSend, HandshakeCarriesOnlyTheFieldsThatAreSet) {
    struct Case {
        phone::ClientInfoOptions options;
        std::set<std::string> members;
    };
    phone::ClientInfoOptions watcher, byMac, full;
    watcher.uniqueId = "u-2";
    watcher.admin = false;
    byMac.mac = "11:22";
    full = {"u-1", "aa:bb", true, "tagX", 1080, 2340, "ftp://u:p@10.0.0.9:2121/"};
    const std::vector<Case> cases = {
        {{}, {"dataLength"}},
        {watcher, {"uniqueId", "admin", "dataLength"}},
        {byMac, {"mac", "dataLength"}},
        {full, {"uniqueId", "mac", "admin", "tag", "width", "height", "ftpUrl", "dataLength"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(client.handshake(c.options)) << client.lastError();
        auto got = peer.readMessage();
        ASSERT_TRUE(got);
        EXPECT_EQ(got->className, protocol::MsgClientInfo);
        EXPECT_TRUE(got->data.empty());
        EXPECT_EQ(memberNames(got->message), c.members);
    }
    auto got = phone::clientInfoMessage(full);  // the JSON types the PC reads
    EXPECT_TRUE(got["admin"].isBool() && got["width"].isInt() && got["tag"].isString());
}

TEST_F(PhoneClientSend, MessageTailAndRawBytesArriveUnchanged) {
    const auto tail = pattern(200000);
    ASSERT_TRUE(client.sendMessage(phone::expandClassName("MsgFile"),
                                   object({{"action", 2}, {"dataLength", 5}}), tail));
    auto got = peer.readMessage();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->className, protocol::MsgFile);
    EXPECT_EQ(got->message["action"].asInt(), 2);
    EXPECT_EQ(got->message["dataLength"].asUInt(), tail.size());  // the real length wins
    EXPECT_EQ(got->data, tail);

    const std::string raw("\x05\x00\x00\x00garbage", 11);
    ASSERT_TRUE(client.sendRaw(raw));
    auto bytes = peer.readBytes(raw.size());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), raw);
}

TEST(PhoneClientConnect, FailsWithAReasonAndStaysUsable) {
    PhoneClient client;
    ReceivedFrame frame;
    EXPECT_FALSE(client.connect("not-an-address", 1, 500));
    EXPECT_NE(client.lastError().find("not an IPv4 address"), std::string::npos);

    uint16_t freePort;
    {
        FakeTcpPeer gone;  // a port that nobody listens on once this closes
        freePort = gone.port();
    }
    EXPECT_FALSE(client.connect("127.0.0.1", freePort, 1000));
    EXPECT_FALSE(client.lastError().empty());
    EXPECT_FALSE(client.isOpen());
    EXPECT_EQ(client.readFrame(frame, 0), ReadResult::Closed);
    EXPECT_FALSE(client.sendMessage(protocol::MsgBrush, Json::Value()));

    // Reconnecting starts over: no counters or frames from the old session.
    FakeTcpPeer first;
    ASSERT_TRUE(client.connect("127.0.0.1", first.port(), 1000));
    ASSERT_TRUE(first.accept());
    first.writeKeepAlive();
    first.write(net::encodeFrame(protocol::MsgBrushState, Json::Value(), nullptr, 0));
    first.write(net::encodeFrame(protocol::MsgServerInfo, Json::Value(), nullptr, 0));
    ASSERT_EQ(client.waitFor(protocol::MsgServerInfo, frame, 2000), ReadResult::Frame);
    FakeTcpPeer second;
    ASSERT_TRUE(client.connect("127.0.0.1", second.port(), 1000));
    ASSERT_TRUE(second.accept());
    EXPECT_EQ(client.keepAlives(), 0u);
    EXPECT_EQ(client.pendingCount(), 0u);
    EXPECT_EQ(client.readFrame(frame, 50), ReadResult::Timeout);
}

// Discovery and record datagrams.

std::string serverInfoDatagram(const char* name) {
    return e2e::frameText(net::encodeFrame(
        protocol::MsgServerInfo,
        object({{"name", name}, {"useable", true}, {"platform", "pc"}, {"serverId", Json::Int64(1) << 40}}),
        nullptr, 0));
}

TEST(Discovery, SendsHelloAndDecodesTheServerInfoReply) {
    FakeUdpResponder pc([](const std::string& request) {
        return request == "hello" ? std::vector<std::string>{serverInfoDatagram("first"),
                                                             serverInfoDatagram("second")}
                                  : std::vector<std::string>{};
    });
    std::string error;
    auto reply = phone::discover("127.0.0.1", pc.port(), 2000, &error);
    ASSERT_TRUE(reply) << error;
    EXPECT_EQ(pc.requests().at(0), "hello");  // exactly five bytes, no terminator
    EXPECT_EQ(reply->info["name"].asString(), "first");
    EXPECT_TRUE(reply->info["useable"].asBool());
    EXPECT_EQ(reply->info["serverId"].asInt64(), Json::Int64(1) << 40);
    EXPECT_EQ(reply->from, "127.0.0.1:" + std::to_string(pc.port()));

    auto all = phone::discoverAll("127.0.0.1", pc.port(), 300, &error);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].info["name"].asString(), "second");
}

TEST(Discovery, DatagramLengthsMustMatchTheDatagram) {
    const std::string good = serverInfoDatagram("pc");
    auto parse = [](const std::string& d) {
        std::string error;
        auto frame = phone::parseDiscoveryDatagram(reinterpret_cast<const uint8_t*>(d.data()), d.size(), &error);
        EXPECT_EQ(frame.has_value(), error.empty()) << error;
        return frame;
    };
    ASSERT_TRUE(parse(good));
    EXPECT_EQ(parse(good)->className, protocol::MsgServerInfo);

    EXPECT_FALSE(parse(good.substr(0, good.size() - 1)));  // truncated
    EXPECT_FALSE(parse(good + "!"));                       // trailing byte
    EXPECT_FALSE(parse(good.substr(0, 7)));                // shorter than both length fields
    EXPECT_FALSE(parse(std::string(4, '\0')));             // a keep-alive is no reply
    // A frame with a tail is not a discovery reply.
    EXPECT_FALSE(parse(e2e::frameText(net::encodeFrame(protocol::MsgServerInfo, Json::Value(), "t", 1))));
    // headLength larger than the frame.
    std::string longHead = good;
    net::writeLE32(reinterpret_cast<uint8_t*>(longHead.data()) + 4, uint32_t(good.size()));
    EXPECT_FALSE(parse(longHead));

    // discover() ignores such datagrams and keeps waiting for a good one.
    FakeUdpResponder pc([&](const std::string&) {
        return std::vector<std::string>{good + "!", "recorder-stoped", good};
    });
    std::string error;
    auto reply = phone::discover("127.0.0.1", pc.port(), 2000, &error);
    ASSERT_TRUE(reply) << error;
    EXPECT_EQ(reply->info["name"].asString(), "pc");

    FakeUdpResponder broken([&](const std::string&) { return std::vector<std::string>{good + "!"}; });
    EXPECT_FALSE(phone::discover("127.0.0.1", broken.port(), 300, &error));
    EXPECT_NE(error.find("rejected"), std::string::npos) << error;
}

TEST(Discovery, RecordDatagramReturnsTheReplyBytesOrTimesOut) {
    FakeUdpResponder pc([](const std::string& request) {
        if (request == "stop-record") return std::vector<std::string>{"recorder-stoped"};
        if (request == "start-record") return std::vector<std::string>{"recorder-started"};
        return std::vector<std::string>{};
    });
    auto stopped = phone::sendDatagram("127.0.0.1", pc.port(), "stop-record", 2000);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(*stopped, std::string("recorder-stoped"));
    EXPECT_EQ(stopped->size(), 15u);
    EXPECT_EQ(phone::sendDatagram("127.0.0.1", pc.port(), "start-record", 2000).value_or(""),
              "recorder-started");

    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(phone::sendDatagram("127.0.0.1", pc.port(), "Hello", 200, &error));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 190ms);
    EXPECT_NE(error.find("no reply"), std::string::npos);
}

}  // namespace
