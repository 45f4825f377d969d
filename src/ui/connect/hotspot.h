// The virtual Wi-Fi hotspot that lets a phone reach a PC without a network.
// The connect window only needs these calls; a NetworkManager backend can
// implement them later.
#pragma once

#include <memory>
#include <string>

namespace ui::welcome {

inline constexpr const char kHotspotKey[] = "73915264";

class Hotspot {
public:
    virtual ~Hotspot() = default;
    // Starts (or restarts) the hosted network; false when it cannot.
    virtual bool openHotspot() = 0;
    virtual std::string hotspotSsid() = 0;
    // The first address of the hosted network's adapter, "" when none.
    virtual std::string hostedNetworkAddress() = 0;

    bool isHostedNetworkAddress(const std::string& dotted) {
        const std::string hosted = hostedNetworkAddress();
        return !hosted.empty() && hosted == dotted;
    }
};

// "Virtual_AP_<h>d", h the 33-multiplier hash of the name's UTF-8 bytes,
// each read as a signed byte.
std::string hotspotSsid(const std::string& serverName);
// Not "0.0.0.0" and not link-local ("169." at the start).
bool isUsableHotspotAddress(const std::string& dotted);

// For systems where no hotspot backend is available: opening always fails.
std::unique_ptr<Hotspot> makeUnavailableHotspot(std::string serverName);

}  // namespace ui::welcome
