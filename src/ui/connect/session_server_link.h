// The connect window's view of the program's session server.
#pragma once

#include "ui/connect/connect_server.h"

#include <functional>

namespace net {
class SessionServer;
}

namespace ui::welcome {

class SessionServerLink : public ConnectServer {
public:
    // `start` starts the server on an address (the program's own start-up
    // path, which also remembers the address); it returns success.
    SessionServerLink(net::SessionServer& server, std::function<bool(uint32_t)> start);

    bool isListening() override;
    uint32_t boundAddress() override;
    bool startOn(uint32_t address) override;
    void disconnectAll() override;

private:
    net::SessionServer& server_;
    std::function<bool(uint32_t)> start_;
};

}  // namespace ui::welcome
