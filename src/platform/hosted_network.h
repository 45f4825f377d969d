// A Wi-Fi network hosted by this PC, for a classroom without any network:
// phones join it and reach the PC on the hosting device's address.
#pragma once

#include <memory>
#include <string>

namespace platform {

class HostedNetwork {
public:
    virtual ~HostedNetwork() = default;
    // Starts a hosted network with that name and passphrase; false when the
    // system has no way to (no network manager, no Wi-Fi device) or refuses.
    virtual bool start(const std::string& ssid, const std::string& key) = 0;
    // Stops the hosted network this program started; nothing when none runs.
    virtual void stop() = 0;
    // The first IPv4 address of the device that hosts the network, "" when
    // no hosted network is up or it has no address yet.
    virtual std::string address() = 0;
};

// NetworkManager through its command-line client `nmcli` (looked up on PATH).
std::unique_ptr<HostedNetwork> makeNetworkManagerHotspot();

// The name of the NetworkManager connection the hotspot runs as.
inline constexpr const char kHotspotConnectionName[] = "Lumacro3-Hotspot";

}  // namespace platform
