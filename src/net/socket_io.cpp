#include "net/socket_io.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace net {

namespace {

// Waits until the socket is ready for `events`, without limit when
// `timeoutMs` is negative; false (with `error` set, ETIMEDOUT for the time-out)
// when poll fails or time ran out. shutdown() of the socket ends the wait.
bool waitReady(int socket, short events, int& error, int timeoutMs = -1) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = int(std::max<int64_t>(left.count(), 0));
        }
        pollfd pfd{socket, events, 0};
        int ready = ::poll(&pfd, 1, wait);
        if (ready > 0) return true;
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            if (Clock::now() < deadline) continue;
            error = ETIMEDOUT;
            return false;
        }
        error = errno;
        return false;
    }
}

}  // namespace

long socketReadExactly(int socket, void* buffer, size_t n, int& error, int stallMillis,
                       bool idleFirstByte) {
    size_t done = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (done < n) {
        // Try the read first: data is usually there, and poll() only when not.
        ssize_t r = ::recv(socket, p + done, n - done, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int limit = idleFirstByte && done == 0 ? -1 : stallMillis;
            if (!waitReady(socket, POLLIN, error, limit)) return -1;
            continue;
        }
        if (r <= 0) {
            error = r < 0 ? errno : 0;
            return r;
        }
        done += size_t(r);
    }
    return long(n);
}

long socketWriteGather(int socket, const ConstBuffer* buffers, size_t count, int& error) {
    constexpr size_t kMaxIov = 64;
    size_t total = 0;
    size_t index = 0;   // first buffer not completely written
    size_t offset = 0;  // bytes of buffers[index] already written
    while (index < count) {
        iovec iov[kMaxIov];
        size_t n = 0;
        for (size_t i = index; i < count && n < kMaxIov; ++i, ++n) {
            const size_t skip = i == index ? offset : 0;
            iov[n].iov_base = const_cast<uint8_t*>(static_cast<const uint8_t*>(buffers[i].data) + skip);
            iov[n].iov_len = buffers[i].size - skip;
        }
        if (!waitReady(socket, POLLOUT, error)) return -1;
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = n;
        ssize_t r = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
        if (r < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            error = errno;
            return -1;
        }
        total += size_t(r);
        size_t left = size_t(r);
        while (index < count && left >= buffers[index].size - offset) {
            left -= buffers[index].size - offset;
            offset = 0;
            ++index;
        }
        offset += left;
    }
    return long(total);
}

void setNonBlocking(int socket) {
    int flags = ::fcntl(socket, F_GETFL, 0);
    if (flags >= 0) ::fcntl(socket, F_SETFL, flags | O_NONBLOCK);
}

void setNoDelay(int socket) {
    int one = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace net
