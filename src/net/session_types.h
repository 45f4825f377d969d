// Types shared by the session server, its sessions and the application.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <json/value.h>
#include <netinet/in.h>
#include <string>
#include <string_view>

namespace net {

// Events reported through the server callback.
enum SessionEvent : int {
    kClientReady = 0,  // handshake done
    kClientGone = 1,   // session removed
    kMessage = 2,      // a message arrived
};

// The application's event handler: (socket, peer address or null, class name,
// message object, data tail or null, tail length, event, user data). Called on
// a session's receive thread (ready, message) or the online-test thread (gone),
// never with the server's lock held.
using SessionCallback =
    std::function<int(int socket, const sockaddr_in* peer, const std::string& className,
                      const Json::Value& message, const uint8_t* data, size_t dataLength,
                      int event, void* userData)>;

// What the discovery socket's record datagrams control: the lesson recorder,
// reached through whatever the program registers with setRecorder.
class RecordControl {
public:
    virtual ~RecordControl() = default;
    // Start with default options (no phone voice).
    virtual void startDefault() = 0;
    virtual void stop() = 0;
};

}  // namespace net

namespace net {

// What features need of the session server to talk to the phones; the
// session server implements it, tests use a recording double.
class SessionPort {
public:
    virtual ~SessionPort() = default;
    // Queues a message on the session whose socket is `target`, or on every
    // session when `target` is -1.
    virtual void send(std::string_view className, const Json::Value& message, const void* data,
                      size_t dataLength, int target) = 0;
    virtual bool isAdmin(int socket) = 0;
    // The bound local IPv4 address (network order), 0 when not running.
    virtual uint32_t boundAddress() = 0;
};

}  // namespace net
