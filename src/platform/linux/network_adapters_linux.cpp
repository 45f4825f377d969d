#include "platform/network_adapters.h"
#include "support/strings.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace platform {
namespace {

class LinuxNetworkAdapters : public NetworkAdapters {
public:
    std::vector<uint32_t> localIPv4() override {
        std::vector<uint32_t> result;
        if (const char* forced = std::getenv(kListenAddressVariable); forced && *forced) {
            if (uint32_t a = support::string2ip(forced); a != 0 || support::isDottedIPv4(forced)) {
                if (a != 0) result.push_back(a);
                return result;
            }
        }
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) != 0) return result;
        for (ifaddrs* it = list; it; it = it->ifa_next) {
            if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
            if (!(it->ifa_flags & IFF_UP) || !(it->ifa_flags & IFF_RUNNING)) continue;
            const uint32_t a = reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
            if (a == htonl(INADDR_LOOPBACK) || a == 0) continue;
            bool seen = false;
            for (uint32_t b : result) seen = seen || b == a;
            if (!seen) result.push_back(a);
        }
        freeifaddrs(list);
        return result;
    }

    AdapterDetails detailsOf(uint32_t address) override {
        AdapterDetails details;
        ifaddrs* list = nullptr;
        if (address == 0 || getifaddrs(&list) != 0) return details;
        for (ifaddrs* it = list; it; it = it->ifa_next) {
            if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
            if (reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr != address) continue;
            details.interfaceIndex = int(if_nametoindex(it->ifa_name));
            if ((it->ifa_flags & IFF_BROADCAST) && it->ifa_broadaddr &&
                it->ifa_broadaddr->sa_family == AF_INET)
                details.broadcast = reinterpret_cast<sockaddr_in*>(it->ifa_broadaddr)->sin_addr.s_addr;
            break;
        }
        freeifaddrs(list);
        return details;
    }
};

}  // namespace

std::unique_ptr<NetworkAdapters> makeSystemNetworkAdapters() {
    return std::make_unique<LinuxNetworkAdapters>();
}

}  // namespace platform
