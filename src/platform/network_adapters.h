// Local IPv4 adapter addresses, as the session server chooses among them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// What the discovery socket needs to know of the adapter that holds an address.
struct AdapterDetails {
    uint32_t broadcast = 0;  // subnet broadcast address, network order; 0: none
    int interfaceIndex = 0;  // kernel interface index; 0: unknown
};

class NetworkAdapters {
public:
    virtual ~NetworkAdapters() = default;
    // IPv4 unicast addresses (network byte order) of the adapters that are up,
    // in the order the system lists them, without 127.0.0.1 and 0.0.0.0.
    virtual std::vector<uint32_t> localIPv4() = 0;
    // Broadcast address and interface index of the adapter holding `address`.
    // The default knows neither, so callers serve that address alone.
    virtual AdapterDetails detailsOf(uint32_t /*address*/) { return {}; }
};

// The Linux implementation (getifaddrs). When the environment variable
// LUMACRO3_LISTEN_ADDRESS holds a dotted IPv4 address, that address is the only
// one listed (127.0.0.1 allowed), so the program can serve on loopback.
std::unique_ptr<NetworkAdapters> makeSystemNetworkAdapters();

inline constexpr const char kListenAddressVariable[] = "LUMACRO3_LISTEN_ADDRESS";

}  // namespace platform
