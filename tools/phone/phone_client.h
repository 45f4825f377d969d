// Reference phone client: a TCP session to the PC (frames in both directions,
// keep-alives counted and hidden) and the UDP discovery and record datagrams.
// Used by the lumacro3-phone tool and by the end-to-end tests.
#pragma once

#include "protocol/constants.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <json/value.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace phone {

// One received message, owning its tail.
struct ReceivedFrame {
    std::string className;
    Json::Value message;
    std::vector<uint8_t> data;
};

enum class ReadResult {
    Frame,    // `out` holds a message
    Timeout,  // nothing complete arrived in time; partial bytes are kept
    Closed,   // the PC closed the connection (or it was never open)
    Invalid,  // a malformed frame arrived (see readFrame)
};
const char* toString(ReadResult result);

// The fields of MsgClientInfo; only those that are set are sent.
struct ClientInfoOptions {
    std::optional<std::string> uniqueId;
    std::optional<std::string> mac;
    std::optional<bool> admin;  // absent counts as true on the PC
    std::optional<std::string> tag;
    std::optional<int> width;
    std::optional<int> height;
    std::optional<std::string> ftpUrl;
};
// The MsgClientInfo message object for `options` (without "dataLength").
Json::Value clientInfoMessage(const ClientInfoOptions& options);

class PhoneClient {
public:
    static constexpr int kDefaultConnectTimeoutMs = 3000;

    PhoneClient() = default;
    ~PhoneClient();
    PhoneClient(const PhoneClient&) = delete;
    PhoneClient& operator=(const PhoneClient&) = delete;

    // Opens the TCP session (IPv4 dotted address) with TCP_NODELAY. Any open
    // connection is closed first and all counters and buffers are reset.
    bool connect(const std::string& ip, uint16_t port = protocol::kSessionPort,
                 int timeoutMs = kDefaultConnectTimeoutMs);
    bool isOpen() const { return fd_ >= 0; }
    int socket() const { return fd_; }
    // Why the last call failed, for messages to the user.
    const std::string& lastError() const { return error_; }

    // Encodes one frame (the encoder sets "dataLength") and sends it whole.
    bool sendMessage(std::string_view className, const Json::Value& message,
                     const void* tail = nullptr, size_t tailLength = 0);
    bool sendMessage(std::string_view className, const Json::Value& message,
                     const std::vector<uint8_t>& tail) {
        return sendMessage(className, message, tail.data(), tail.size());
    }
    // Tails of at least this many bytes are sent from the caller's buffer
    // behind a separately encoded head (no copy into a frame).
    static constexpr size_t kGatherTail = 16 * 1024;
    // Sends bytes as they are, for malformed-input tests.
    bool sendRaw(const void* bytes, size_t length);
    bool sendRaw(std::string_view bytes) { return sendRaw(bytes.data(), bytes.size()); }

    // Sends MsgClientInfo with the fields that are set in `options`.
    bool handshake(const ClientInfoOptions& options);

    // Returns the next message: first those that waitFor skipped, then new ones.
    // Keep-alives are counted and never returned. A negative timeout waits
    // without limit. Invalid: a totalLength out of range (the frame boundaries
    // are lost, so every later call is Invalid too), or a frame whose head runs
    // past it or whose head or msgJson is not JSON (that frame is consumed; the
    // next call goes on with the following one). lastError() says which.
    ReadResult readFrame(ReceivedFrame& out, int timeoutMs);
    // Waits for a message of `className`. Messages of other classes are kept,
    // in order, and returned by later readFrame or waitFor calls.
    ReadResult waitFor(std::string_view className, ReceivedFrame& out, int timeoutMs);

    // Keep-alive frames received since connect.
    uint64_t keepAlives() const { return keepAlives_; }
    // Messages that waitFor put aside and nobody has taken yet.
    size_t pendingCount() const { return pending_.size(); }
    // Messages that waitFor has put aside since connect.
    uint64_t skippedCount() const { return skipped_; }

    // Closes at once.
    void close();
    // Stops sending, then reads and drops what the PC still sends until it
    // closes or `timeoutMs` passed, so that nothing sent is lost to a reset.
    void closeGracefully(int timeoutMs);

private:
    // Sends the head and then the tail without joining them.
    bool sendGathered(const void* head, size_t headLength, const void* tail, size_t tailLength);
    // Appends what the socket has to the buffer, waiting at most `timeoutMs`.
    // Frame: bytes were appended; Timeout; Closed.
    ReadResult fill(int timeoutMs);
    // Takes one complete frame from the buffer if there is one. Returns
    // Timeout when more bytes are needed.
    ReadResult takeBuffered(ReceivedFrame& out);
    bool fail(std::string message);

    int fd_ = -1;
    bool broken_ = false;  // an invalid length was seen: the stream lost its frame boundaries
    bool peerClosed_ = false;
    std::vector<uint8_t> rx_;
    size_t rxBegin_ = 0;  // first unread byte in rx_
    std::deque<ReceivedFrame> pending_;
    uint64_t keepAlives_ = 0;
    uint64_t skipped_ = 0;
    std::string error_;
};

// Expands a short class name ("MsgBrush") to its wire name
// ("com.quorvel.qm.msg.MsgBrush"); other names are returned as they are.
std::string expandClassName(std::string_view name);

}  // namespace phone
