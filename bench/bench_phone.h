// Connects a reference phone to a benchmark's server: greeting, then a
// handshake as a watching (non-admin) phone. Ends the program on failure.
#pragma once

#include "bench_common.h"
#include "phone/phone_client.h"
#include "protocol/message_names.h"

#include <string>

namespace bench {

inline void connectWatchingPhone(phone::PhoneClient& phone, const char* address, uint16_t port,
                                 const std::string& uniqueId) {
    if (!phone.connect(address, port)) fail("connect: %s", phone.lastError().c_str());
    phone::ReceivedFrame greeting;
    if (phone.readFrame(greeting, 3000) != phone::ReadResult::Frame ||
        greeting.className != protocol::MsgServerInfo)
        fail("%s got no greeting from the server", uniqueId.c_str());
    phone::ClientInfoOptions options;
    options.uniqueId = uniqueId;
    options.admin = false;
    if (!phone.handshake(options)) fail("handshake: %s", phone.lastError().c_str());
}

}  // namespace bench
