// What the connect window needs from the session server.
#pragma once

#include <cstdint>

namespace ui::welcome {

class ConnectServer {
public:
    virtual ~ConnectServer() = default;
    virtual bool isListening() = 0;
    // Network byte order; meaningful while listening.
    virtual uint32_t boundAddress() = 0;
    // Starts listening on that address (network byte order); false on failure.
    virtual bool startOn(uint32_t address) = 0;
    virtual void disconnectAll() = 0;
};

}  // namespace ui::welcome
