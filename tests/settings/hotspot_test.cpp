// The NetworkManager hotspot against a stand-in nmcli on PATH that logs its
// arguments and answers as NetworkManager does; and the hotspot page's wait.
#include "common/scoped_env.h"
#include "common/temp_dir.h"

#include "platform/hosted_network.h"
#include "platform/linux/hosted_network_nm.h"
#include "support/thread_pool.h"
#include "ui/connect/hotspot.h"
#include "ui/settings/hotspot_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <sys/stat.h>
#include <thread>

using testing_support::readText;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeText;

namespace {

// An nmcli that appends its arguments (one call a line) to calls.log and
// answers from the files the test leaves beside it.
class FakeNmcli {
public:
    FakeNmcli() : path_("PATH", dir.path() + ":/usr/bin:/bin") {
        writeText(dir / "nmcli",
                  "#!/bin/sh\n"
                  "D=$(dirname \"$0\")\n"
                  "echo \"$*\" >> \"$D/calls.log\"\n"
                  "case \"$*\" in\n"
                  "  *'wifi hotspot'*) [ -f \"$D/nowifi\" ] && { echo 'Error: No Wi-Fi device found.' >&2; exit 10; }; exit 0;;\n"
                  "  *'connection down'*) exit 0;;\n"
                  "  *'--active'*) cat \"$D/active\" 2>/dev/null; exit 0;;\n"
                  "  *'device show'*) cat \"$D/address\" 2>/dev/null; exit 0;;\n"
                  "esac\n"
                  "exit 2\n");
        ::chmod((dir / "nmcli").c_str(), 0755);
    }
    std::string calls() const { return readText(dir / "calls.log"); }

    TempDir dir;

private:
    ScopedEnv path_;
};

}  // namespace

TEST(NetworkManagerHotspot, OpenClosesFirstThenStartsWithTheNameAndKey) {
    FakeNmcli nmcli;
    auto hosted = platform::makeNetworkManagerHotspot();
    auto hotspot = ui::welcome::makeHotspot(*hosted, [] { return std::string("PC01"); });
    const uint32_t h = 33u * 33 * 33 * 80 + 33 * 33 * 67 + 33 * 48 + 49;
    const std::string ssid = "Virtual_AP_" + std::to_string(h) + "d";
    EXPECT_EQ(hotspot->hotspotSsid(), ssid);

    ASSERT_TRUE(hotspot->openHotspot());
    ASSERT_TRUE(hotspot->openHotspot());  // twice: closed and started again, same name
    const std::string up = "device wifi hotspot con-name Lumacro3-Hotspot ssid " + ssid + " password 73915264\n";
    const std::string down = "connection down id Lumacro3-Hotspot\n";
    EXPECT_EQ(nmcli.calls(), down + up + down + up);

    hotspot->closeHotspot();
    EXPECT_EQ(nmcli.calls(), down + up + down + up + down);
}

TEST(NetworkManagerHotspot, NoWifiDeviceOrNoNetworkManagerFailsTheOpen) {
    {
        FakeNmcli nmcli;
        writeText(nmcli.dir / "nowifi", "");
        auto hosted = platform::makeNetworkManagerHotspot();
        EXPECT_FALSE(hosted->start("Virtual_AP_0d", "73915264"));
        EXPECT_EQ(hosted->address(), "");
    }
    TempDir empty;
    ScopedEnv path("PATH", empty.path());
    auto hosted = platform::makeNetworkManagerHotspot();
    EXPECT_FALSE(hosted->start("Virtual_AP_0d", "73915264"));
    hosted->stop();  // nothing to stop, nothing breaks
    EXPECT_EQ(hosted->address(), "");
}

TEST(NetworkManagerHotspot, AddressIsTheFirstOfTheHotspotDevice) {
    FakeNmcli nmcli;
    auto hosted = platform::makeNetworkManagerHotspot();
    EXPECT_EQ(hosted->address(), "");  // no active hotspot connection

    writeText(nmcli.dir / "active", "Wired connection 1:eth0\nLumacro3-Hotspot:wlp2s0\n");
    writeText(nmcli.dir / "address", "10.42.0.1/24 | 10.42.0.7/24\n");
    EXPECT_EQ(hosted->address(), "10.42.0.1");
    EXPECT_NE(nmcli.calls().find("-g IP4.ADDRESS device show wlp2s0"), std::string::npos);

    writeText(nmcli.dir / "address", "");  // the device has no address yet
    EXPECT_EQ(hosted->address(), "");
}

TEST(NmcliOutput, TerseFieldsAndAddresses) {
    using namespace platform::nm;
    EXPECT_EQ(splitTerse("a\\:b:c\\\\d:"), (std::vector<std::string>{"a:b", "c\\d", ""}));
    EXPECT_EQ(hotspotDevice("Lumacro3-Hotspot\n"), "");  // no device field
    EXPECT_EQ(hotspotDevice("Other:wlan0\r\nLumacro3-Hotspot:wlan1\r\n"), "wlan1");
    EXPECT_EQ(hotspotDevice("Lumacro3-Hotspot-old:wlan0\n"), "");
    EXPECT_EQ(firstAddress("192.168.137.1/24\n"), "192.168.137.1");
    EXPECT_EQ(firstAddress("garbage\n169.254.3.4/16\n"), "169.254.3.4");
    EXPECT_EQ(firstAddress(""), "");
}

namespace {

// Answers the wait's looks from a script of addresses.
class ScriptedHotspot : public ui::welcome::Hotspot {
public:
    explicit ScriptedHotspot(std::vector<std::string> answers) : answers_(std::move(answers)) {}
    bool openHotspot() override { return true; }
    std::string hotspotSsid() override { return "Virtual_AP_1d"; }
    std::string hostedNetworkAddress() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++looks;
        return looks <= static_cast<int>(answers_.size()) ? answers_[looks - 1] : answers_.back();
    }
    std::mutex mutex_;
    int looks = 0;

private:
    std::vector<std::string> answers_;
};

ui::settings::HotspotWaitTimes quick() {
    ui::settings::HotspotWaitTimes t;
    t.first = t.empty = t.unusable = std::chrono::milliseconds(1);
    return t;
}

template <class Done>
void waitUntil(Done done) {
    for (int i = 0; i < 5000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

TEST(HotspotAddressWait, SkipsUnusableAddressesAndTakesTheFirstUsable) {
    support::ThreadPool pool(1);
    ScriptedHotspot hotspot({"", "169.254.1.1", "0.0.0.0", "192.168.137.1"});
    std::atomic<int> found{0};
    std::string address;
    ui::settings::HotspotAddressWait wait(hotspot, [&](const std::string& a) {
        address = a;
        ++found;
    }, quick());
    ASSERT_TRUE(wait.start(pool));
    waitUntil([&] { return !wait.running(); });
    EXPECT_EQ(found.load(), 1);
    EXPECT_EQ(address, "192.168.137.1");
    EXPECT_EQ(hotspot.looks, 4);
}

TEST(HotspotAddressWait, GivesUpSilentlyAfterSixEmptyLooks) {
    support::ThreadPool pool(1);
    ScriptedHotspot hotspot({""});
    int found = 0;
    ui::settings::HotspotAddressWait wait(hotspot, [&](const std::string&) { ++found; }, quick());
    ASSERT_TRUE(wait.start(pool));
    waitUntil([&] { return !wait.running(); });
    EXPECT_EQ(found, 0);
    EXPECT_EQ(hotspot.looks, 6);
}

TEST(HotspotAddressWait, OwnerEndsARunningWait) {
    support::ThreadPool pool(1);
    ScriptedHotspot hotspot({"169.254.9.9"});
    int found = 0;
    {
        ui::settings::HotspotWaitTimes slow;  // the real pauses: seconds
        ui::settings::HotspotAddressWait wait(hotspot, [&](const std::string&) { ++found; }, slow);
        ASSERT_TRUE(wait.start(pool));
        EXPECT_FALSE(wait.start(pool));  // one at a time
    }  // returns without sitting out the three seconds
    EXPECT_EQ(found, 0);
    EXPECT_EQ(hotspot.looks, 0);
}
