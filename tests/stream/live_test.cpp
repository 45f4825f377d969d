// The live stream to phones: over the sessions (MsgLive) and from the
// service on 37374, with real sockets on a loopback address of the test's own.
#include "stream/stream_rig.h"

#include "capture/colour_window.h"
#include "common/loopback.h"
#include "common/phone_waits.h"
#include "common/run_command.h"
#include "net/session_server.h"
#include "phone/phone_client.h"
#include "protocol/constants.h"
#include "protocol/message_names.h"
#include "stream/live_service.h"
#include "stream/session_live_stream.h"

#include <arpa/inet.h>
#include <cstdio>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace stream_test;
using phone::PhoneClient;
using phone::ReadResult;
using phone::ReceivedFrame;

namespace {

struct LiveRig {
    LiveRig(int w, int h, bool x11 = false) : enc(w, h, x11) {
        address = testing_support::uniqueLoopbackAddress(37);
        adapters.set({testing_support::ipv4(address)});
        server = std::make_unique<net::SessionServer>(adapters, screen);
        live = std::make_unique<stream::SessionLiveStream>(*server, *enc.encoder);
        uint32_t bound = 0;
        auto callback = [this](int socket, const sockaddr_in*, const std::string& className,
                               const Json::Value& message, const uint8_t*, size_t, int event,
                               void*) {
            if (event == net::kMessage && className == protocol::MsgLive)
                live->liveRequest(socket, message["action"].asInt());
            if (event == net::kClientReady) {
                if (live->hasSubscription()) live->requestKeyFrame();
                ready.fetch_add(1);
            }
            return 0;
        };
        EXPECT_TRUE(server->start(bound, protocol::kSessionPort, callback, nullptr));
        service = std::make_unique<stream::LiveService>(*enc.encoder);
        EXPECT_TRUE(service->start(address, protocol::kLiveStreamPort));
    }
    ~LiveRig() {
        service->shutdown();
        server->shutdown();
        live.reset();
    }

    // A phone with a finished handshake (greeting read).
    std::unique_ptr<PhoneClient> phone(const std::string& id) {
        auto client = std::make_unique<PhoneClient>();
        EXPECT_TRUE(client->connect(address, protocol::kSessionPort));
        ReceivedFrame greeting;
        EXPECT_EQ(client->readFrame(greeting, 3000), ReadResult::Frame);
        const int before = ready.load();
        phone::ClientInfoOptions options;
        options.uniqueId = id;
        options.admin = false;
        EXPECT_TRUE(client->handshake(options));
        EXPECT_TRUE(eventually([&] { return ready.load() > before; }));
        return client;
    }

    std::unique_ptr<PhoneClient> serviceClient() {
        auto client = std::make_unique<PhoneClient>();
        EXPECT_TRUE(client->connect(address, protocol::kLiveStreamPort));
        return client;
    }

    void sendLive(PhoneClient& client, int action) {
        Json::Value m(Json::objectValue);
        m["action"] = action;
        EXPECT_TRUE(client.sendMessage(protocol::MsgLive, m));
    }

    EncoderRig enc;
    std::string address;
    platform::FakeNetworkAdapters adapters;
    platform::FakeScreenInfo screen{1920, 1080};
    std::unique_ptr<net::SessionServer> server;
    std::unique_ptr<stream::SessionLiveStream> live;
    std::unique_ptr<stream::LiveService> service;
    std::atomic<int> ready{0};
};

// Reads until a frame of `className` comes; the frames before it are dropped.
bool expectClass(PhoneClient& client, const char* className, ReceivedFrame* out = nullptr,
                 int timeoutMs = 5000) {
    ReceivedFrame frame;
    if (client.waitFor(className, frame, timeoutMs) != ReadResult::Frame) return false;
    ReceivedFrame skipped;
    while (client.pendingCount() > 0) client.readFrame(skipped, 0);  // drop what came before
    if (out) *out = frame;
    return true;
}

// A socket with a tiny receive buffer that never reads.
int stalledSocket(const std::string& address, uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int size = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = testing_support::ipv4(address);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

void sendFrame(int fd, const net::Frame& frame) {
    ASSERT_EQ(::send(fd, frame->data(), frame->size(), MSG_NOSIGNAL), ssize_t(frame->size()));
}

}  // namespace

TEST(LiveService, ClientGetsTheStreamParametersFirstAndAKeyFrameSoon) {
    LiveRig rig(320, 240);
    rig.enc.set(30, 1);
    auto client = rig.serviceClient();
    ReceivedFrame frame;
    ASSERT_EQ(client->readFrame(frame, 5000), ReadResult::Frame);
    ASSERT_EQ(frame.className, protocol::MsgLiveOpen);
    EXPECT_EQ(frame.message["width"].asInt(), 320);
    EXPECT_EQ(frame.message["height"].asInt(), 240);
    EXPECT_EQ(frame.message["frameRate"].asInt(), 30);
    EXPECT_EQ(frame.message["bitrate"].asInt(), stream::advertisedBitrate(1, 30));
    EXPECT_EQ(frame.message["dataLength"].asInt(), 0);
    bool key = false;
    for (int i = 0; i < 2 && !key; ++i) {
        ASSERT_EQ(client->readFrame(frame, 5000), ReadResult::Frame);
        ASSERT_EQ(frame.className, protocol::MsgLiveData);
        key = frame.message["keyFrame"].asBool();
        ASSERT_GE(frame.data.size(), 4u);
        EXPECT_EQ(frame.data[0], 0);
        EXPECT_EQ(frame.data[1], 0);
    }
    EXPECT_TRUE(key);
    EXPECT_EQ(rig.service->clientCount(), 1u);
    EXPECT_TRUE(rig.service->subscribed());
}

TEST(LiveService, KeepAlivesAreFineMalformedFramesCloseTheClient) {
    LiveRig rig(160, 120);
    rig.enc.set(30, 0);
    auto good = rig.serviceClient();
    ASSERT_TRUE(expectClass(*good, protocol::MsgLiveOpen));
    ASSERT_TRUE(good->sendRaw(std::string(4, '\0')));  // keep-alive
    // A well-formed message is taken and ignored.
    ASSERT_TRUE(good->sendMessage("com.example.Anything", Json::Value(Json::objectValue)));

    const std::string badMsgJson = "{\"className\":\"x\",\"msgJson\":\"{[\"}";
    auto le32 = [](uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"totalLength 2", le32(2) + le32(0)},
        {"totalLength over 0xFFFFFF", le32(0x1000000) + le32(0)},
        {"negative head length", le32(8) + le32(0xfffffff0u) + le32(0)},
        {"head not JSON", le32(4 + 5) + le32(5) + "{oops"},
        {"msgJson not JSON",
         le32(uint32_t(4 + badMsgJson.size())) + le32(uint32_t(badMsgJson.size())) + badMsgJson},
    };
    for (const auto& [what, bytes] : bad) {
        auto client = rig.serviceClient();
        ASSERT_TRUE(expectClass(*client, protocol::MsgLiveOpen)) << what;
        ASSERT_TRUE(client->sendRaw(bytes)) << what;
        EXPECT_TRUE(testing_support::closedByPeer(*client)) << what;
    }
    // The client that behaved still gets pictures.
    EXPECT_TRUE(eventually([&] { return rig.service->clientCount() == 1; }));
    const uint64_t before = rig.enc.encoder->picturesEncoded();
    ASSERT_TRUE(eventually([&] { return rig.enc.encoder->picturesEncoded() > before + 2; }));
    ReceivedFrame frame;
    EXPECT_EQ(good->readFrame(frame, 3000), ReadResult::Frame);
    EXPECT_EQ(frame.className, protocol::MsgLiveData);
}

TEST(LiveService, TheLastClientLeavingStopsTheEncoderQuietly) {
    LiveRig rig(160, 120);
    rig.enc.set(30, 1);
    auto watcher = rig.phone("watcher");  // a session phone that never asked for the stream
    auto a = rig.serviceClient();
    auto b = rig.serviceClient();
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveData));
    ASSERT_TRUE(expectClass(*b, protocol::MsgLiveData));
    a->close();
    EXPECT_TRUE(eventually([&] { return rig.service->clientCount() == 1; }));
    EXPECT_TRUE(rig.enc.encoder->isReady());
    b->close();
    EXPECT_TRUE(eventually([&] { return !rig.service->subscribed(); }));
    EXPECT_TRUE(eventually([&] { return rig.enc.encoder->subscriberCount() == 0; }));
    EXPECT_TRUE(eventually([&] { return rig.enc.capture->consumerCount() == 0; }));
    ReceivedFrame frame;
    EXPECT_EQ(watcher->waitFor(protocol::MsgLiveClose, frame, 300), ReadResult::Timeout);
    // A new client starts it all again.
    auto c = rig.serviceClient();
    ASSERT_TRUE(expectClass(*c, protocol::MsgLiveOpen));
    ASSERT_TRUE(expectClass(*c, protocol::MsgLiveData));
}

TEST(LiveService, BindFailuresAreReported) {
    LiveRig rig(64, 64);
    stream::LiveService second(*rig.enc.encoder);
    EXPECT_FALSE(second.start(rig.address, protocol::kLiveStreamPort));
    EXPECT_EQ(second.port(), 0);
    stream::LiveService third(*rig.enc.encoder);
    EXPECT_FALSE(third.start("not-an-address", protocol::kLiveStreamPort));
    second.shutdown();  // harmless when never started
    EXPECT_EQ(rig.service->port(), protocol::kLiveStreamPort);
}

TEST(SessionLive, TwoRequestsThenTwoCancelsStopTheStreamAndEveryoneHearsTheClose) {
    LiveRig rig(160, 120);
    rig.enc.set(30, 1);
    auto a = rig.phone("phone-a");
    auto b = rig.phone("phone-b");

    rig.sendLive(*a, 1);
    ReceivedFrame open;
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveOpen, &open));
    EXPECT_EQ(open.message["width"].asInt(), 160);
    ASSERT_TRUE(expectClass(*b, protocol::MsgLiveOpen));  // every phone hears it
    ASSERT_TRUE(expectClass(*b, protocol::MsgLiveData));

    rig.sendLive(*b, 1);
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveOpen));  // again, to all
    ASSERT_TRUE(expectClass(*b, protocol::MsgLiveOpen));
    EXPECT_TRUE(eventually([&] { return rig.live->viewers() == 2; }));

    rig.sendLive(*a, 0);
    EXPECT_TRUE(eventually([&] { return rig.live->viewers() == 1; }));
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveData));  // still running
    EXPECT_TRUE(rig.live->hasSubscription());

    rig.sendLive(*b, 0);
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveClose));
    ASSERT_TRUE(expectClass(*b, protocol::MsgLiveClose));
    EXPECT_FALSE(rig.live->hasSubscription());
    EXPECT_EQ(rig.enc.encoder->subscriberCount(), 0);

    // A cancel without a request changes nothing.
    rig.sendLive(*a, 0);
    rig.sendLive(*a, 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rig.live->viewers(), 0);
    EXPECT_EQ(rig.enc.encoder->subscriberCount(), 0);
}

TEST(SessionLive, KeyFramePicturesCarryTheFlagAndDropViewersEndsTheStream) {
    LiveRig rig(160, 120);
    rig.enc.set(30, 1);
    auto a = rig.phone("phone-a");
    rig.sendLive(*a, 1);
    rig.sendLive(*a, 1);
    // Each request answers with its own MsgLiveOpen: once both came, neither
    // can arrive after dropViewers() below and add the phone again.
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveOpen));
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveOpen));
    ReceivedFrame frame;
    bool key = false;
    for (int i = 0; i < 6 && !key; ++i) {
        ASSERT_TRUE(expectClass(*a, protocol::MsgLiveData, &frame));
        key = frame.message["keyFrame"].asBool();
        EXPECT_EQ(frame.message["dataLength"].asUInt64(), frame.data.size());
    }
    EXPECT_TRUE(key);
    rig.live->dropViewers();
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveClose));
    EXPECT_EQ(rig.live->viewers(), 0);
    EXPECT_FALSE(rig.live->hasSubscription());
}

TEST(SessionLive, ForceCloseEndsBothPathsAndANewRequestStartsAgain) {
    LiveRig rig(160, 120);
    rig.enc.set(30, 1);
    auto a = rig.phone("phone-a");
    rig.sendLive(*a, 1);
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveData));
    auto s = rig.serviceClient();
    ASSERT_TRUE(expectClass(*s, protocol::MsgLiveData));

    rig.enc.encoder->forceClose();
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveClose));
    ASSERT_TRUE(expectClass(*s, protocol::MsgLiveClose));
    EXPECT_FALSE(rig.live->hasSubscription());
    EXPECT_FALSE(rig.service->subscribed());

    // The next request does not wait for the closed encoder: it starts a new run.
    rig.sendLive(*a, 1);
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveOpen));
    ASSERT_TRUE(expectClass(*a, protocol::MsgLiveData));
    EXPECT_TRUE(rig.live->hasSubscription());
    auto t = rig.serviceClient();
    ASSERT_TRUE(expectClass(*t, protocol::MsgLiveOpen));
    ASSERT_TRUE(expectClass(*t, protocol::MsgLiveData));
    EXPECT_TRUE(rig.service->subscribed());
}

TEST(LiveService, AClientThatNeverReadsStaysBoundedInMemory) {
    LiveRig rig(640, 480);
    rig.enc.fake->noise = true;
    rig.enc.set(30, 2);
    const size_t limit = 512 * 1024;
    rig.service->setQueueLimit(limit);
    const int stalled = stalledSocket(rig.address, protocol::kLiveStreamPort);
    auto reader = rig.serviceClient();
    size_t pictures = 0, maxQueued = 0;
    uint64_t keysAfterDrops = 0;
    ReceivedFrame frame;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end && keysAfterDrops < 2) {
        if (reader->readFrame(frame, 100) == ReadResult::Frame &&
            frame.className == protocol::MsgLiveData) {
            ++pictures;
            if (rig.service->picturesDropped() > 0 && frame.message["keyFrame"].asBool())
                ++keysAfterDrops;
        }
        maxQueued = std::max(maxQueued, rig.service->queuedBytes());
    }
    EXPECT_GT(rig.service->picturesDropped(), 0u);
    // The stalled client holds at most its limit plus the write in flight
    // and one picture; the reader keeps up.
    EXPECT_LT(maxQueued, limit + 2 * stream::LiveService::kMergeLimit + 512 * 1024);
    EXPECT_GT(pictures, 10u);
    EXPECT_EQ(keysAfterDrops, 2u);  // the stream goes on from key frames
    EXPECT_EQ(rig.service->clientCount(), 2u);
    ::close(stalled);
}

TEST(SessionLive, APhoneThatNeverReadsIsHeldBackNotClosed) {
    LiveRig rig(640, 480);
    rig.enc.fake->noise = true;
    rig.enc.set(30, 2);
    rig.live->setQueueLimit(512 * 1024);
    // Without holding back, the stalled phone would pass this and be closed.
    rig.server->setSendQueueLimit(4u << 20);
    const int stalled = stalledSocket(rig.address, protocol::kSessionPort);
    phone::ClientInfoOptions options;
    options.uniqueId = "stalled";
    options.admin = false;
    sendFrame(stalled, net::encodeFrame(protocol::MsgClientInfo, phone::clientInfoMessage(options),
                                        nullptr, 0));
    Json::Value request(Json::objectValue);
    request["action"] = 1;
    sendFrame(stalled, net::encodeFrame(protocol::MsgLive, request, nullptr, 0));
    ASSERT_TRUE(eventually([&] { return rig.live->hasSubscription(); }));
    auto reader = rig.phone("reader");

    ASSERT_TRUE(eventually([&] { return rig.live->picturesHeldBack() > 0; }, 20000ms));
    // Keep the stream going a while longer: the phone stays connected.
    const uint64_t encoded = rig.enc.encoder->picturesEncoded();
    ASSERT_TRUE(eventually([&] { return rig.enc.encoder->picturesEncoded() > encoded + 60; }, 20000ms));
    EXPECT_EQ(rig.server->sessionCount(), 2u);
    ReceivedFrame frame;
    EXPECT_TRUE(expectClass(*reader, protocol::MsgLiveData, &frame));
    ::close(stalled);
}

namespace {

// A viewer on a raw socket with a tiny receive buffer, so that what it does
// not read stays with the sender.
struct StallingViewer {
    struct Picture {
        std::vector<uint8_t> data;
        size_t endOffset;  // where the picture's frame ended in the bytes read
    };

    int fd = -1;
    std::vector<uint8_t> buffer;
    size_t consumed = 0;  // bytes taken as frames
    std::vector<Picture> pictures;

    ~StallingViewer() {
        if (fd >= 0) ::close(fd);
    }
    // Bytes that arrived but were not read yet.
    size_t waitingHere() const {
        int n = 0;
        ::ioctl(fd, FIONREAD, &n);
        return size_t(n);
    }
    // Reads for at most `ms` and takes every MsgLiveData picture; false when
    // the connection ended.
    bool read(int ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return true;
        uint8_t chunk[65536];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer.insert(buffer.end(), chunk, chunk + n);
        size_t pos = 0;
        while (buffer.size() - pos >= 4) {
            const uint32_t total = net::readLE32(buffer.data() + pos);
            if (buffer.size() - pos < size_t(total) + 4) break;
            if (total > 0) {
                net::DecodedMessage m;
                EXPECT_EQ(net::decodeFrameBody(buffer.data() + pos + 4, total, m), net::DecodeResult::Ok);
                if (m.className == protocol::MsgLiveData)
                    pictures.push_back({std::vector<uint8_t>(m.data, m.data + m.dataLength),
                                        consumed + pos + total + 4});
            }
            pos += size_t(total) + 4;
        }
        buffer.erase(buffer.begin(), buffer.begin() + long(pos));
        consumed += pos;
        return true;
    }
};

// The stream runs on for well over the lag limit while the viewer reads
// nothing, then it reads again. Apart from what its own receive buffer had
// accepted, the pictures it reads that were encoded before it resumed are
// the ones that waited for it at the PC: never more than two seconds' worth.
void expectStalledViewerCatchesUpWithinTheLimit(StallingViewer& viewer, Sink& sink, int frameRate) {
    const size_t limit = size_t(2 * frameRate);
    const size_t start = sink.count();
    ASSERT_TRUE(eventually([&] { return sink.count() >= start + 2 * limit + 10; }, 30000ms));
    const size_t resumedAt = sink.count();
    const size_t acceptedHere = viewer.waitingHere();
    auto fresh = [&] {
        std::lock_guard<std::mutex> lock(sink.mutex);
        const auto& last = viewer.pictures;
        if (last.empty()) return false;
        for (size_t i = resumedAt; i < sink.pictures.size(); ++i)
            if (sink.pictures[i].data == last.back().data) return true;
        return false;
    };
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < end && !fresh()) ASSERT_TRUE(viewer.read(100));
    ASSERT_TRUE(fresh()) << "no picture encoded after the viewer resumed reached it";

    // The sink saw every picture in order; the viewer a subsequence of them.
    std::vector<Sink::Picture> all;
    {
        std::lock_guard<std::mutex> lock(sink.mutex);
        all = sink.pictures;
    }
    size_t j = 0, stale = 0;
    for (const auto& p : viewer.pictures) {
        while (j < all.size() && all[j].data != p.data) ++j;
        ASSERT_LT(j, all.size()) << "a picture the encoder did not make";
        if (j < resumedAt && p.endOffset > acceptedHere) ++stale;
        ++j;
    }
    // One or two more may have been on their way to the queue at the moment.
    EXPECT_LE(stale, limit + 3) << "of " << viewer.pictures.size() << " pictures read";
}

// An encoder at 30 pictures a second, a sink that sees every picture, and a
// viewer connected to `port` that does not read.
struct StalledViewerRig {
    explicit StalledViewerRig(uint16_t port) {
        rig.enc.set(30, 1);
        id = sink.subscribe(*rig.enc.encoder);
        viewer.fd = stalledSocket(rig.address, port);
    }
    ~StalledViewerRig() { rig.enc.encoder->unsubscribe(id); }

    LiveRig rig{320, 240};
    Sink sink;
    uint64_t id = 0;
    StallingViewer viewer;
};

}  // namespace

TEST(LiveService, AViewerThatStopsReadingIsNeverMoreThanTwoSecondsBehind) {
    StalledViewerRig t(protocol::kLiveStreamPort);
    ASSERT_TRUE(eventually([&] { return t.rig.service->clientCount() == 1; }));
    expectStalledViewerCatchesUpWithinTheLimit(t.viewer, t.sink, 30);
    EXPECT_GT(t.rig.service->picturesDropped(), 0u);
}

TEST(SessionLive, APhoneThatStopsReadingIsNeverMoreThanTwoSecondsBehind) {
    StalledViewerRig t(protocol::kSessionPort);
    phone::ClientInfoOptions options;
    options.uniqueId = "slow";
    options.admin = false;
    sendFrame(t.viewer.fd, net::encodeFrame(protocol::MsgClientInfo, phone::clientInfoMessage(options),
                                            nullptr, 0));
    Json::Value request(Json::objectValue);
    request["action"] = 1;
    sendFrame(t.viewer.fd, net::encodeFrame(protocol::MsgLive, request, nullptr, 0));
    ASSERT_TRUE(eventually([&] { return t.rig.live->hasSubscription(); }));
    expectStalledViewerCatchesUpWithinTheLimit(t.viewer, t.sink, 30);
    EXPECT_GT(t.rig.live->picturesHeldBack(), 0u);
}

namespace {

// The command's standard output and error together.
testing_support::CommandResult run(const std::string& command) {
    return testing_support::runCommand(command + " 2>&1");
}

std::string tempPath(const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return (std::string(::testing::TempDir()) + "/" + info->name() + "-" + std::to_string(::getpid()) +
            "-" + name);
}

// Runs lumacro3-phone live and checks the file with ffprobe and ffmpeg.
void receiveAndDecode(LiveRig& rig, const std::string& extra) {
    const std::string file = tempPath("live.h264");
    const testing_support::CommandResult live = run(std::string(LUMACRO3_BIN_DIR) + "/lumacro3-phone live --address " +
                               rig.address + " --out " + file + " --seconds 1.5" + extra);
    ASSERT_EQ(live.status, 0) << live.output;
    const stream::StreamInfo info = rig.enc.encoder->streamInfo();
    const std::string advertised = "MsgLiveOpen width=" + std::to_string(info.width) +
                                   " height=" + std::to_string(info.height);
    EXPECT_NE(live.output.find(advertised), std::string::npos) << live.output;

    const testing_support::CommandResult probe = run("ffprobe -v error -select_streams v:0 -show_entries "
                                "stream=width,height -of csv=p=0 " + file);
    EXPECT_EQ(probe.status, 0) << probe.output;
    EXPECT_EQ(probe.output, std::to_string(info.width) + "," + std::to_string(info.height) + "\n");
    const testing_support::CommandResult decode = run("ffmpeg -nostdin -v error -i " + file + " -f null -");
    EXPECT_EQ(decode.status, 0) << decode.output;
    EXPECT_EQ(decode.output, "");
    std::remove(file.c_str());
}

}  // namespace

TEST(LiveCli, WritesADecodableFileFromTheSessionAndFromTheService) {
    testing_support::PrivateXvfb xvfb(1920, 1080);
    ASSERT_TRUE(xvfb.ok());
    testing_support::ColourWindow window(100, 100, 600, 400,
                                         {{0, 0, 300, 400, 0xcc2200}, {300, 0, 300, 400, 0x0044ee}});
    LiveRig rig(1920, 1080, true);
    rig.enc.set(20, 1);
    receiveAndDecode(rig, "");
    EXPECT_TRUE(eventually([&] { return rig.live->viewers() == 0; }));  // the tool cancelled its request
    receiveAndDecode(rig, " --port37374");
    EXPECT_TRUE(eventually([&] { return rig.enc.encoder->subscriberCount() == 0; }));
}
