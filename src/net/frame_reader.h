// Receive side of the frame protocol: reads frames from a byte source, checks
// the limits, skips keep-alives and decodes the head and message object.
#pragma once

#include "net/frame_codec.h"
#include "support/buffer.h"

#include <string>

namespace net {

// Where the bytes come from: a socket in a session, memory in tests and fuzzing.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads exactly n bytes. Returns n on success, 0 when the peer closed,
    // a negative value on failure.
    virtual long readExactly(void* buffer, size_t n) = 0;
    // The error code of the last failure (errno for sockets).
    virtual int lastError() const { return 0; }
};

enum class ReadStatus {
    Message,  // `out` holds a message
    Dropped,  // a bad message was logged and dropped; the session goes on
    End,      // read failure, peer closed or invalid frame (logged): the session ends
};

class FrameReader {
public:
    // The receive buffer starts at this size and grows to the largest frame.
    static constexpr size_t kInitialBuffer = 512000;

    FrameReader(ByteSource& source, std::string peer);
    // Reads until one message, one dropped frame or the end. The message's
    // data tail points into this reader's buffer until the next call.
    ReadStatus next(DecodedMessage& out);
    size_t bufferCapacity() const { return buffer_.capacity(); }

private:
    ByteSource& source_;
    std::string peer_;
    support::MyBuffer buffer_;
};

}  // namespace net
