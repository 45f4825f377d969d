// UDP side of the phone protocol: "hello" discovery and the record datagrams.
#pragma once

#include "phone/phone_client.h"
#include "protocol/constants.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace phone {

// One answer to "hello".
struct ServerInfoReply {
    std::string from;  // "ip:port" of the sender
    Json::Value info;  // the MsgServerInfo message object
};

// Decodes a discovery reply: one frame without tail that fills the datagram
// exactly (totalLength + 4 == size, headLength + 4 == totalLength). Empty
// `error` on success.
std::optional<ReceivedFrame> parseDiscoveryDatagram(const uint8_t* bytes, size_t size,
                                                    std::string* error = nullptr);

// Sends "hello" to ip:port and returns the first MsgServerInfo that arrives
// within `timeoutMs`. Broadcast is allowed (SO_BROADCAST is set).
std::optional<ServerInfoReply> discover(const std::string& ip,
                                        uint16_t port = protocol::kDiscoveryPort,
                                        int timeoutMs = 2000, std::string* error = nullptr);
// Same, but collects every answer until `timeoutMs` passed (several PCs may
// answer a broadcast). Datagrams that are not a MsgServerInfo are skipped.
std::vector<ServerInfoReply> discoverAll(const std::string& ip,
                                         uint16_t port = protocol::kDiscoveryPort,
                                         int timeoutMs = 2000, std::string* error = nullptr);

// Sends `text` as one datagram and returns the first reply's bytes, or nothing
// when no reply came within `timeoutMs` (see `error`).
std::optional<std::string> sendDatagram(const std::string& ip, uint16_t port,
                                        const std::string& text, int timeoutMs = 2000,
                                        std::string* error = nullptr);

}  // namespace phone
