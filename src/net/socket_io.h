// Blocking-style reads and writes on non-blocking sockets, woken by
// shutdown() of the socket from another thread.
#pragma once

#include "net/frame_reader.h"

#include <cstddef>

namespace net {

// Reads exactly n bytes: n on success, 0 when the peer closed, -1 on failure.
// With `stallMillis` >= 0, a wait in which no byte arrives for that long fails
// with `error` ETIMEDOUT; `idleFirstByte` lets the wait for the first byte
// last without limit (a peer idle between frames is not stalled).
long socketReadExactly(int socket, void* buffer, size_t n, int& error, int stallMillis = -1,
                       bool idleFirstByte = false);

// Writes the bytes of several buffers in order with gathered sends: the total
// on success, -1 on failure.
struct ConstBuffer {
    const void* data;
    size_t size;
};
long socketWriteGather(int socket, const ConstBuffer* buffers, size_t count, int& error);

void setNonBlocking(int socket);
void setNoDelay(int socket);

// A session's socket as a byte source. Once a frame has begun, a peer that
// sends nothing for `stallMillis` (-1: no limit) ends the read.
class SocketByteSource : public ByteSource {
public:
    explicit SocketByteSource(int socket, int stallMillis = -1)
        : socket_(socket), stallMillis_(stallMillis) {}
    long readExactly(void* buffer, size_t n) override {
        return socketReadExactly(socket_, buffer, n, error_, stallMillis_, false);
    }
    long readFrameStart(void* buffer, size_t n) override {
        return socketReadExactly(socket_, buffer, n, error_, stallMillis_, true);
    }
    int lastError() const override { return error_; }

private:
    int socket_;
    int stallMillis_;
    int error_ = 0;
};

}  // namespace net
