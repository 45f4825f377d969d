#include "ui/connect/connect_payload.h"

#include "support/strings.h"

#include <json/value.h>
#include <json/writer.h>

#include <cstdio>

namespace ui::welcome {

std::string connectPayload(const std::string& dottedAddress) {
    Json::Value payload(Json::objectValue);
    payload["action"] = "connect";
    payload["data"] = "tcp://" + dottedAddress + ":" + std::to_string(kConnectPort);
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, payload) + "\n";
}

std::string connectPayload(uint32_t addressNetworkOrder) {
    return connectPayload(support::ip2string(addressNetworkOrder));
}

std::string connectionNumber(uint32_t addressNetworkOrder) {
    const auto* octet = reinterpret_cast<const unsigned char*>(&addressNetworkOrder);
    // The value as the network stack stores it on the PCs this number was
    // made for (little-endian): the first octet is the lowest byte.
    const uint32_t value = octet[0] | (octet[1] << 8) | (octet[2] << 16) | (uint32_t(octet[3]) << 24);
    char digits[10];
    std::snprintf(digits, sizeof digits, "%08X", value);
    return std::string(digits, 4) + " " + std::string(digits + 4, 4);
}

}  // namespace ui::welcome
