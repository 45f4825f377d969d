// The nmcli command lines of the NetworkManager hotspot and the parsing of
// their terse output, apart from running them so that both can be checked.
#pragma once

#include <string>
#include <vector>

namespace platform::nm {

// nmcli arguments that start the hotspot connection on any Wi-Fi device.
std::vector<std::string> hotspotUpArgs(const std::string& ssid, const std::string& key);
// nmcli arguments that take the hotspot connection down.
std::vector<std::string> hotspotDownArgs();
// nmcli arguments that list the active connections as NAME:DEVICE lines.
std::vector<std::string> activeConnectionsArgs();
// nmcli arguments that print the IPv4 addresses of a device, one a line.
std::vector<std::string> deviceAddressArgs(const std::string& device);

// Splits one line of terse output at unescaped ':' ("\:" and "\\" are a
// literal colon and backslash inside a field).
std::vector<std::string> splitTerse(const std::string& line);
// The device of the hotspot connection in the active-connection list, "".
std::string hotspotDevice(const std::string& activeConnections);
// The first address of the device's address list ("10.42.0.1/24" -> "10.42.0.1").
std::string firstAddress(const std::string& addressList);

}  // namespace platform::nm
