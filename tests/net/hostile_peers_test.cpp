// The session server against peers that misbehave: hostile JSON, frames that
// are announced and never sent, and a crowd of phones connecting at once.
#include "common/eventually.h"
#include "net/server_fixture.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace net {
namespace {

using namespace std::chrono_literals;
using testing_support::ipv4;

constexpr uint16_t kPort = 40874;

std::string lengthBytes(uint32_t v) {
    std::string s(4, '\0');
    writeLE32(reinterpret_cast<uint8_t*>(&s[0]), v);
    return s;
}

std::string rawFrame(const std::string& head, size_t tailLength = 0) {
    return lengthBytes(uint32_t(4 + head.size() + tailLength)) + lengthBytes(uint32_t(head.size())) +
           head + std::string(tailLength, 't');
}

// Resident set of this process in bytes.
size_t residentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return size_t(resident) * size_t(::sysconf(_SC_PAGESIZE));
}

using testing_support::eventually;

class HostilePeersTest : public ServerFixture {
protected:
    HostilePeersTest() : ServerFixture(3, kPort) {}
    void SetUp() override {
        auto callback = [this](int, const sockaddr_in*, const std::string& className,
                               const Json::Value&, const uint8_t*, size_t length, int event, void*) {
            if (event == kClientReady) ++ready_;
            if (event == kClientGone) ++gone_;
            if (event == kMessage) {
                ++messages_;
                lastLength_ = length;
                std::lock_guard<std::mutex> lock(mutex_);
                lastClass_ = className;
            }
            return 0;
        };
        uint32_t bound = 0;
        ASSERT_TRUE(server_->start(bound, kPort, callback, nullptr));
    }

    std::unique_ptr<phone::PhoneClient> readyPhone(const std::string& id) {
        auto client = connectPhone();
        phone::ClientInfoOptions options;
        options.uniqueId = id;
        options.admin = false;
        const int before = ready_.load();
        EXPECT_TRUE(client->handshake(options));
        EXPECT_TRUE(eventually([&] { return ready_.load() > before; }));
        return client;
    }

    std::string lastClass() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastClass_;
    }

    std::atomic<int> ready_{0}, gone_{0}, messages_{0};
    std::atomic<size_t> lastLength_{0};
    std::mutex mutex_;
    std::string lastClass_;
};

TEST_F(HostilePeersTest, DeeplyNestedJsonEndsOrDropsOnlyThatFrame) {
    // A head of 256 '[' before any handshake: that session ends, the process lives.
    auto attacker = connectPhone();
    ASSERT_TRUE(attacker->sendRaw(rawFrame(std::string(256, '['))));
    EXPECT_TRUE(closedByServer(*attacker));

    // A deep msgJson is a broken message: dropped, the session goes on.
    auto phone = readyPhone("p");
    const std::string deep = std::string(300, '[') + std::string(300, ']');
    ASSERT_TRUE(phone->sendRaw(rawFrame(R"({"className":"Deep","msgJson":")" + deep + "\"}")));
    ASSERT_TRUE(phone->sendMessage("after", Json::Value(Json::objectValue)));
    ASSERT_TRUE(eventually([&] { return messages_.load() == 1; }));
    EXPECT_EQ(lastClass(), "after");
    EXPECT_TRUE(server_->isRunning());
}

TEST_F(HostilePeersTest, LargeFramesOnlyAfterTheHandshake) {
    // A stranger may not announce more than 64 KiB.
    auto stranger = connectPhone();
    ASSERT_TRUE(stranger->sendRaw(lengthBytes(SessionServer::kPreHandshakeFrameLimit + 1)));
    EXPECT_TRUE(closedByServer(*stranger));

    // Up to the limit is read (and dropped) before the handshake without
    // ending the session, and an identified phone may send the largest frame
    // the protocol allows.
    auto phone = connectPhone();
    const std::string head = R"({"className":"Early","msgJson":"{}"})";
    ASSERT_TRUE(phone->sendRaw(rawFrame(head, SessionServer::kPreHandshakeFrameLimit - 8 - head.size())));
    phone::ClientInfoOptions options;
    options.uniqueId = "p";
    ASSERT_TRUE(phone->handshake(options));
    ASSERT_TRUE(eventually([&] { return ready_.load() == 1; }));
    EXPECT_EQ(messages_.load(), 0);
    const std::vector<uint8_t> tail(kMaxTotalLength - 1000, 0x42);
    ASSERT_TRUE(phone->sendMessage(protocol::MsgFile, Json::Value(Json::objectValue), tail));
    ASSERT_TRUE(eventually([&] { return messages_.load() == 1; }, 10000ms));
    EXPECT_EQ(lastLength_.load(), tail.size());
    EXPECT_TRUE(eventually([&] { return server_->sessionCount() == 1; }));  // the stranger is gone
}

TEST_F(HostilePeersTest, AnnouncedButUnsentFramesCostLittleMemory) {
    constexpr int kPeers = 60;
    std::vector<std::unique_ptr<phone::PhoneClient>> phones;
    for (int i = 0; i < kPeers; ++i) phones.push_back(readyPhone("p" + std::to_string(i)));
    const size_t before = residentBytes();
    // Each announces the largest frame and sends only the start of its head.
    for (auto& phone : phones) ASSERT_TRUE(phone->sendRaw(lengthBytes(0xFFFFFF) + lengthBytes(40) + "{"));
    std::this_thread::sleep_for(300ms);
    const size_t after = residentBytes();
    RecordProperty("rss_growth_kib", std::to_string((after - before) >> 10));
    EXPECT_LT(after, before + (30u << 20)) << "grew by " << ((after - before) >> 20) << " MiB";
    EXPECT_EQ(server_->sessionCount(), size_t(kPeers));
}

TEST_F(HostilePeersTest, AStalledPartialFrameEndsItsSessionAnIdlePhoneStays) {
    server_->setStallTimeout(200);
    auto idle = readyPhone("idle");
    auto halfFrame = readyPhone("half");
    auto halfLength = readyPhone("short");
    ASSERT_TRUE(halfFrame->sendRaw(lengthBytes(100) + lengthBytes(20) + "{\"class"));
    ASSERT_TRUE(halfLength->sendRaw(std::string("\x10\x00", 2)));
    EXPECT_TRUE(closedByServer(*halfFrame));
    EXPECT_TRUE(closedByServer(*halfLength));
    EXPECT_TRUE(eventually([&] { return gone_.load() == 2; }));

    // Idle between frames is not a stall: the phone is still served.
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(server_->sessionCount(), 1u);
    server_->send("still", Json::Value(Json::objectValue), nullptr, 0, -1);
    phone::ReceivedFrame frame;
    EXPECT_EQ(idle->waitFor("still", frame, 3000), phone::ReadResult::Frame);
}

// A class of phones connects at the same moment and each waits for the
// greeting without sending anything.
TEST_F(HostilePeersTest, SixtyPhonesConnectingTogetherAreAllGreeted) {
    constexpr int kPhones = 60;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kPort);
    to.sin_addr.s_addr = ipv4(address_);
    std::vector<int> fds;
    for (int i = 0; i < kPhones; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        ASSERT_TRUE(r == 0 || errno == EINPROGRESS);
        fds.push_back(fd);
    }
    std::vector<std::string> received(kPhones);
    auto greeted = [&](int i) {
        const std::string& b = received[i];
        if (b.size() < 8) return false;
        const uint32_t total = readLE32(reinterpret_cast<const uint8_t*>(b.data()));
        if (b.size() < 4 + size_t(total)) return false;
        DecodedMessage m;
        return decodeFrameBody(reinterpret_cast<const uint8_t*>(b.data()) + 4, total, m) ==
                   DecodeResult::Ok &&
               m.className == protocol::MsgServerInfo;
    };
    int done = 0;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (done < kPhones && std::chrono::steady_clock::now() < deadline) {
        std::vector<pollfd> pfds;
        std::vector<int> index;
        for (int i = 0; i < kPhones; ++i) {
            if (greeted(i)) continue;
            pfds.push_back({fds[i], POLLIN, 0});
            index.push_back(i);
        }
        if (::poll(pfds.data(), pfds.size(), 100) <= 0) continue;
        for (size_t k = 0; k < pfds.size(); ++k) {
            if (!(pfds[k].revents & POLLIN)) continue;
            char chunk[4096];
            ssize_t n = ::recv(pfds[k].fd, chunk, sizeof chunk, 0);
            if (n > 0) received[index[k]].append(chunk, size_t(n));
        }
        done = 0;
        for (int i = 0; i < kPhones; ++i) done += greeted(i);
    }
    EXPECT_EQ(done, kPhones);
    for (int fd : fds) ::close(fd);
}

}  // namespace
}  // namespace net
