// Receive side of the frame protocol: reads frames from a byte source, checks
// the limits, skips keep-alives and decodes the head and message object.
#pragma once

#include "net/frame_codec.h"

#include <cstdint>
#include <memory>
#include <string>

namespace net {

// Where the bytes come from: a socket in a session, memory in tests and fuzzing.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads exactly n bytes. Returns n on success, 0 when the peer closed,
    // a negative value on failure.
    virtual long readExactly(void* buffer, size_t n) = 0;
    // Reads the first bytes of a frame: like readExactly, but the source may
    // wait without limit for the first byte (an idle peer between frames).
    virtual long readFrameStart(void* buffer, size_t n) { return readExactly(buffer, n); }
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
    // Frames are read into the buffer in steps of at least this size; the
    // buffer grows with the bytes that arrived, not with the declared length.
    static constexpr size_t kMinReadStep = 64 * 1024;

    FrameReader(ByteSource& source, std::string peer);
    // Reads until one message, one dropped frame or the end. The message's
    // data tail points into this reader's buffer until the next call.
    ReadStatus next(DecodedMessage& out);
    size_t bufferCapacity() const { return capacity_; }
    // Frames whose totalLength passes `limit` end the session. The default is
    // the protocol's limit; a session lowers it until the phone identified.
    void setFrameLimit(uint32_t limit) { frameLimit_ = limit; }
    uint32_t frameLimit() const { return frameLimit_; }

private:
    // Reads `totalLength` bytes into the buffer, growing it as they arrive.
    long readBody(size_t totalLength);
    void reserve(size_t capacity, size_t keep);

    ByteSource& source_;
    std::string peer_;
    std::unique_ptr<uint8_t[]> buffer_;  // not zero-filled: only received bytes are touched
    size_t capacity_ = 0;
    uint32_t frameLimit_ = kMaxTotalLength - 1;
};

}  // namespace net
