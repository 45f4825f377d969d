// The text a phone scans to connect: compact JSON with the session address,
// followed by a line feed.
#pragma once

#include <cstdint>
#include <string>

namespace ui::welcome {

inline constexpr int kConnectPort = 49873;

// {"action":"connect","data":"tcp://<address>:49873"} and "\n"; the address
// in network byte order, as the session server reports it.
std::string connectPayload(uint32_t addressNetworkOrder);
std::string connectPayload(const std::string& dottedAddress);

// The connection number of some variants: the address as eight upper-case
// hexadecimal digits, first octet last ("0501 A8C0" for 192.168.1.5), with a
// space after the fourth digit.
std::string connectionNumber(uint32_t addressNetworkOrder);

}  // namespace ui::welcome
