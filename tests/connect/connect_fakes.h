// Stand-ins for the session server and the hotspot, recording what the
// connect window asks of them.
#pragma once

#include "support/strings.h"
#include "ui/connect/connect_server.h"
#include "ui/connect/hotspot.h"

#include <string>
#include <vector>

namespace connect_test {

class FakeServer : public ui::welcome::ConnectServer {
public:
    bool listening = false;
    uint32_t bound = 0;
    bool startSucceeds = true;
    std::vector<uint32_t> starts;
    int disconnects = 0;

    void listenOn(const std::string& dotted) {
        listening = true;
        bound = support::string2ip(dotted);
    }
    bool isListening() override { return listening; }
    uint32_t boundAddress() override { return bound; }
    bool startOn(uint32_t address) override {
        starts.push_back(address);
        if (!startSucceeds) return false;
        listening = true;
        bound = address;
        return true;
    }
    void disconnectAll() override { ++disconnects; }
};

class FakeHotspot : public ui::welcome::Hotspot {
public:
    bool opens = true;
    int openCalls = 0;
    std::string address;

    bool openHotspot() override {
        ++openCalls;
        return opens;
    }
    std::string hotspotSsid() override { return "Virtual_AP_42d"; }
    std::string hostedNetworkAddress() override { return address; }
};

}  // namespace connect_test
