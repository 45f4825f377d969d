// Discovery over a real (virtual) network: the server runs in its own network
// namespace with two adapters, a phone namespace sits on the bound adapter and
// a third namespace on the other one. Needs root for `ip netns`.
#include "common/run_command.h"
#include "net/session_server.h"
#include "phone/discovery.h"
#include "phone/phone_client.h"
#include "platform/fakes/fake_network_adapters.h"
#include "protocol/message_names.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace {

using testing_support::runCommand;

const std::string kPhone = std::string(LUMACRO3_BIN_DIR) + "/lumacro3-phone";
constexpr uint16_t kPort = 40875;

// Three namespaces: pc (10.99.N.1 towards phones, 10.98.N.1 towards other),
// phones (10.99.N.2) and other (10.98.N.2), each with a default route to the pc.
class NetnsLab {
public:
    NetnsLab() {
        const std::string id = std::to_string(::getpid());
        pc = "lmpc" + id;
        phones = "lmph" + id;
        other = "lmot" + id;
        const std::string n = std::to_string(::getpid() % 200 + 20);
        phoneNet = "10.99." + n;
        otherNet = "10.98." + n;
    }
    ~NetnsLab() {
        for (const auto& ns : {pc, phones, other}) runCommand("ip netns del " + ns + " 2>/dev/null");
    }

    // False with `why` when namespaces cannot be made here.
    bool create(std::string& why) {
        if (::geteuid() != 0) {
            why = "creating network namespaces needs root";
            return false;
        }
        const std::string setup =
            "set -e; for ns in " + pc + " " + phones + " " + other + "; do ip netns add $ns; "
            "ip -n $ns link set lo up; done; "
            "ip link add vph netns " + pc + " type veth peer name vpc netns " + phones + "; "
            "ip link add vot netns " + pc + " type veth peer name vpc netns " + other + "; "
            "ip -n " + pc + " addr add " + phoneNet + ".1/24 brd + dev vph; "
            "ip -n " + pc + " addr add " + otherNet + ".1/24 brd + dev vot; "
            "ip -n " + phones + " addr add " + phoneNet + ".2/24 brd + dev vpc; "
            "ip -n " + other + " addr add " + otherNet + ".2/24 brd + dev vpc; "
            "ip -n " + pc + " link set vph up; ip -n " + pc + " link set vot up; "
            "ip -n " + phones + " link set vpc up; ip -n " + other + " link set vpc up; "
            "ip -n " + phones + " route add default via " + phoneNet + ".1; "
            "ip -n " + other + " route add default via " + otherNet + ".1 2>&1";
        auto r = runCommand("(" + setup + ") 2>&1");
        if (r.status != 0) {
            why = "ip netns setup failed: " + r.output;
            return false;
        }
        return true;
    }

    std::string pc, phones, other, phoneNet, otherNet;
};

// Runs `work` on a thread that entered namespace `ns`; threads and sockets it
// creates stay there.
template <typename Work>
void inNamespace(const std::string& ns, Work work) {
    std::thread t([&] {
        int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
            ADD_FAILURE() << "cannot enter " << ns << ": " << std::strerror(errno);
            if (fd >= 0) ::close(fd);
            return;
        }
        ::close(fd);
        work();
    });
    t.join();
}

class CountingRecorder : public net::RecordControl {
public:
    void startDefault() override { ++starts; }
    void stop() override { ++stops; }
    std::atomic<int> starts{0}, stops{0};
};

TEST(BroadcastDiscovery, BroadcastsOnTheBoundAdapterAreAnsweredFromTheBoundAddress) {
    NetnsLab lab;
    std::string why;
    if (!lab.create(why)) GTEST_SKIP() << why;
    ::unsetenv(platform::kListenAddressVariable);

    auto adapters = platform::makeSystemNetworkAdapters();
    platform::FakeScreenInfo screen;
    CountingRecorder recorder;
    std::unique_ptr<net::SessionServer> server;
    const std::string bound = lab.phoneNet + ".1";
    inNamespace(lab.pc, [&] {
        server = std::make_unique<net::SessionServer>(*adapters, screen);
        server->setRecorder(&recorder);
        in_addr requested{};
        ::inet_pton(AF_INET, bound.c_str(), &requested);
        uint32_t address = requested.s_addr;
        ASSERT_TRUE(server->start(address, kPort, nullptr, nullptr));
        EXPECT_EQ(address, requested.s_addr);
    });
    ASSERT_TRUE(server && server->isRunning());

    // From the bound adapter: unicast, subnet broadcast and 255.255.255.255 all
    // get MsgServerInfo, sent from the bound address.
    inNamespace(lab.phones, [&] {
        for (const std::string& to : {bound, lab.phoneNet + ".255", std::string("255.255.255.255")}) {
            std::string error;
            auto reply = phone::discover(to, protocol::kDiscoveryPort, 2000, &error);
            ASSERT_TRUE(reply.has_value()) << to << ": " << error;
            EXPECT_EQ(reply->from, bound + ":" + std::to_string(protocol::kDiscoveryPort)) << to;
            EXPECT_EQ(reply->info["serverId"].asInt64(), server->serverId());
        }
        const std::string broadcast = lab.phoneNet + ".255";
        EXPECT_EQ(phone::sendDatagram(broadcast, protocol::kDiscoveryPort, "start-record").value_or(""),
                  "recorder-started");
        EXPECT_EQ(phone::sendDatagram("255.255.255.255", protocol::kDiscoveryPort, "stop-record")
                      .value_or(""),
                  "recorder-stoped");
        // A broadcast "hello" in another letter case is still ignored.
        EXPECT_FALSE(phone::sendDatagram(broadcast, protocol::kDiscoveryPort, "HELLO", 300).has_value());
    });
    EXPECT_EQ(recorder.starts.load(), 1);
    EXPECT_EQ(recorder.stops.load(), 1);

    // The reference client finds the PC by broadcast.
    auto cli = runCommand("ip netns exec " + lab.phones + " " + kPhone + " discover --address " +
                          lab.phoneNet + ".255 --timeout 2000 2>&1");
    EXPECT_EQ(cli.status, 0) << cli.output;
    EXPECT_NE(cli.output.find("\"serverId\""), std::string::npos) << cli.output;

    // From the other adapter nothing is answered, not even datagrams to the
    // bound address, though the route there works (a TCP session connects).
    inNamespace(lab.other, [&] {
        for (const std::string& to : {bound, std::string("255.255.255.255"), lab.otherNet + ".255"})
            EXPECT_FALSE(phone::discover(to, protocol::kDiscoveryPort, 400).has_value()) << to;
        EXPECT_FALSE(phone::sendDatagram(bound, protocol::kDiscoveryPort, "stop-record", 400).has_value());
        phone::PhoneClient client;
        ASSERT_TRUE(client.connect(bound, kPort)) << client.lastError();
        phone::ReceivedFrame frame;
        EXPECT_EQ(client.readFrame(frame, 3000), phone::ReadResult::Frame);
        EXPECT_EQ(frame.className, protocol::MsgServerInfo);
    });
    EXPECT_EQ(recorder.stops.load(), 1);
    server.reset();
}

}  // namespace
