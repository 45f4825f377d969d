// A benchmark's session server on one fake adapter, and a reference phone
// connected to it as a watching phone. Both end the program on failure.
#pragma once

#include "bench_common.h"
#include "net/session_server.h"
#include "phone/phone_client.h"
#include "platform/fakes/fake_network_adapters.h"
#include "protocol/message_names.h"

#include <string>

namespace bench {

// The session server listening on `address`; the adapter list and screen it
// reads live as long as it does.
struct BenchServer {
    BenchServer(const char* address, uint16_t port, net::SessionCallback callback, void* userData)
        : adapters({ipv4(address)}), server(adapters, screen) {
        uint32_t bound = 0;
        if (!server.start(bound, port, std::move(callback), userData))
            fail("session server did not start on %s:%u", address, unsigned(port));
    }
    platform::FakeNetworkAdapters adapters;
    platform::FakeScreenInfo screen;
    net::SessionServer server;
};

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
