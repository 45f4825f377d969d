// The virtual Wi-Fi hotspot that lets a phone reach a PC without a network:
// its name from the PC's name, its fixed key, and the address of the device
// that hosts it.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {
class HostedNetwork;
}

namespace ui::welcome {

inline constexpr const char kHotspotKey[] = "73915264";

class Hotspot {
public:
    virtual ~Hotspot() = default;
    // Starts (or restarts) the hosted network; false when it cannot.
    virtual bool openHotspot() = 0;
    // Stops the hosted network; nothing happens when there is none.
    virtual void closeHotspot() {}
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

// The hotspot on a system backend. `serverName` is read at each use (the
// settings window may rename the PC); `hosted` must outlive the result.
// openHotspot closes the running network first, then starts it again.
std::unique_ptr<Hotspot> makeHotspot(platform::HostedNetwork& hosted,
                                     std::function<std::string()> serverName);

}  // namespace ui::welcome
