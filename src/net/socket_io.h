// Blocking-style reads and writes on non-blocking sockets, woken by
// shutdown() of the socket from another thread.
#pragma once

#include "net/frame_reader.h"

#include <cstddef>

namespace net {

// Reads exactly n bytes: n on success, 0 when the peer closed, -1 on failure.
long socketReadExactly(int socket, void* buffer, size_t n, int& error);

// Writes the bytes of several buffers in order with gathered sends: the total
// on success, -1 on failure.
struct ConstBuffer {
    const void* data;
    size_t size;
};
long socketWriteGather(int socket, const ConstBuffer* buffers, size_t count, int& error);

void setNonBlocking(int socket);
void setNoDelay(int socket);

class SocketByteSource : public ByteSource {
public:
    explicit SocketByteSource(int socket) : socket_(socket) {}
    long readExactly(void* buffer, size_t n) override {
        return socketReadExactly(socket_, buffer, n, error_);
    }
    int lastError() const override { return error_; }

private:
    int socket_;
    int error_ = 0;
};

}  // namespace net
