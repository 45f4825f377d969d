#include "ui/connect/hotspot.h"

#include "platform/hosted_network.h"
#include "support/logger.h"

#include <cstdint>

namespace ui::welcome {

std::string hotspotSsid(const std::string& serverName) {
    uint32_t h = 0;
    for (char c : serverName) h = h * 33 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    return "Virtual_AP_" + std::to_string(h) + "d";
}

bool isUsableHotspotAddress(const std::string& dotted) {
    return !dotted.empty() && dotted != "0.0.0.0" && !dotted.starts_with("169.");
}

namespace {

class UnavailableHotspot : public Hotspot {
public:
    explicit UnavailableHotspot(std::string serverName) : serverName_(std::move(serverName)) {}
    bool openHotspot() override {
        LOGOUT("hotspot: no backend on this system");
        return false;
    }
    std::string hotspotSsid() override { return welcome::hotspotSsid(serverName_); }
    std::string hostedNetworkAddress() override { return {}; }

private:
    std::string serverName_;
};

class SystemHotspot : public Hotspot {
public:
    SystemHotspot(platform::HostedNetwork& hosted, std::function<std::string()> serverName)
        : hosted_(hosted), serverName_(std::move(serverName)) {}
    bool openHotspot() override {
        hosted_.stop();
        return hosted_.start(hotspotSsid(), kHotspotKey);
    }
    void closeHotspot() override { hosted_.stop(); }
    std::string hotspotSsid() override { return welcome::hotspotSsid(serverName_ ? serverName_() : std::string()); }
    std::string hostedNetworkAddress() override { return hosted_.address(); }

private:
    platform::HostedNetwork& hosted_;
    std::function<std::string()> serverName_;
};

}  // namespace

std::unique_ptr<Hotspot> makeHotspot(platform::HostedNetwork& hosted, std::function<std::string()> serverName) {
    return std::make_unique<SystemHotspot>(hosted, std::move(serverName));
}

std::unique_ptr<Hotspot> makeUnavailableHotspot(std::string serverName) {
    return std::make_unique<UnavailableHotspot>(std::move(serverName));
}

}  // namespace ui::welcome
