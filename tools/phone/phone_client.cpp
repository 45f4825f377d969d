#include "phone/phone_client.h"

#include "net/frame_codec.h"
#include "phone/socket_util.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace phone {

namespace {

constexpr std::string_view kMessagePackage = "com.quorvel.qm.msg.";
static_assert(std::string_view(protocol::MsgClientInfo).starts_with(kMessagePackage));

constexpr size_t kReadChunk = 64 * 1024;
// A send that makes no progress for this long fails instead of hanging.
constexpr int kSendTimeoutSeconds = 10;

}  // namespace

const char* toString(ReadResult result) {
    switch (result) {
    case ReadResult::Frame: return "frame";
    case ReadResult::Timeout: return "timeout";
    case ReadResult::Closed: return "closed";
    case ReadResult::Invalid: return "invalid";
    }
    return "?";
}

Json::Value clientInfoMessage(const ClientInfoOptions& o) {
    namespace f = protocol::field;
    Json::Value m(Json::objectValue);
    if (o.uniqueId) m[f::uniqueId] = *o.uniqueId;
    if (o.mac) m[f::mac] = *o.mac;
    if (o.admin) m[f::admin] = *o.admin;
    if (o.tag) m[f::tag] = *o.tag;
    if (o.width) m[f::width] = *o.width;
    if (o.height) m[f::height] = *o.height;
    if (o.ftpUrl) m[f::ftpUrl] = *o.ftpUrl;
    return m;
}

std::string expandClassName(std::string_view name) {
    if (name.starts_with("Msg") && name.find('.') == std::string_view::npos)
        return std::string(kMessagePackage) + std::string(name);
    return std::string(name);
}

PhoneClient::~PhoneClient() { close(); }

bool PhoneClient::fail(std::string message) {
    error_ = std::move(message);
    return false;
}

bool PhoneClient::connect(const std::string& ip, uint16_t port, int timeoutMs) {
    close();
    broken_ = false;
    peerClosed_ = false;
    rx_.clear();
    rxBegin_ = 0;
    pending_.clear();
    keepAlives_ = 0;
    skipped_ = 0;
    error_.clear();

    auto address = detail::makeAddress(ip, port);
    if (!address) return fail("not an IPv4 address: " + ip);

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return fail(detail::errnoText("socket"));
    const std::string target = detail::formatAddress(*address);

    if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) < 0) {
        if (errno != EINPROGRESS) {
            std::string text = detail::errnoText(("connect " + target).c_str());
            ::close(fd);
            return fail(text);
        }
        int ready = detail::pollOne(fd, POLLOUT, detail::Deadline(timeoutMs));
        if (ready <= 0) {
            std::string text = ready == 0 ? "connect " + target + ": timed out"
                                          : detail::errnoText(("connect " + target).c_str());
            ::close(fd);
            return fail(text);
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        if (soError != 0) {
            ::close(fd);
            return fail("connect " + target + ": " + std::strerror(soError));
        }
    }

    // Blocking from here on: reads are guarded by poll(), sends by a send time-out.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval sendTimeout{kSendTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    fd_ = fd;
    return true;
}

bool PhoneClient::sendRaw(const void* bytes, size_t length) {
    if (fd_ < 0) return fail("not connected");
    const auto* p = static_cast<const uint8_t*>(bytes);
    while (length > 0) {
        ssize_t n = ::send(fd_, p, length, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return fail("send: the PC stopped reading");
            return fail(detail::errnoText("send"));
        }
        p += n;
        length -= size_t(n);
    }
    return true;
}

bool PhoneClient::sendMessage(std::string_view className, const Json::Value& message,
                              const void* tail, size_t tailLength) {
    if (tailLength + 4 >= net::kMaxTotalLength) return fail("tail too large for one frame");
    if (tail != nullptr && tailLength >= kGatherTail) {
        // Large tails go out from where they lie, behind the head, in one call.
        const std::vector<uint8_t> head = net::encodeFrameHead(className, message, tailLength);
        if (!net::isValidTotalLength(head.size() - 4 + tailLength)) return fail("message too large for one frame");
        return sendGathered(head.data(), head.size(), tail, tailLength);
    }
    net::Frame frame = net::encodeFrame(className, message, tail, tailLength);
    if (!net::isSendable(frame)) return fail("message too large for one frame");
    return sendRaw(frame->data(), frame->size());
}

bool PhoneClient::sendGathered(const void* head, size_t headLength, const void* tail, size_t tailLength) {
    if (fd_ < 0) return fail("not connected");
    iovec parts[2] = {{const_cast<void*>(head), headLength}, {const_cast<void*>(tail), tailLength}};
    iovec* part = parts;
    int count = 2;
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = part;
        msg.msg_iovlen = size_t(count);
        ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return fail("send: the PC stopped reading");
            return fail(detail::errnoText("send"));
        }
        // Skip what was sent: whole parts first, then into the part it ended in.
        while (count > 0 && size_t(n) >= part->iov_len) {
            n -= ssize_t(part->iov_len);
            ++part;
            --count;
        }
        if (count > 0) {
            part->iov_base = static_cast<uint8_t*>(part->iov_base) + n;
            part->iov_len -= size_t(n);
        }
    }
    return true;
}

bool PhoneClient::handshake(const ClientInfoOptions& options) {
    return sendMessage(protocol::MsgClientInfo, clientInfoMessage(options));
}

ReadResult PhoneClient::takeBuffered(ReceivedFrame& out) {
    for (;;) {
        const size_t available = rx_.size() - rxBegin_;
        if (available < 4) return ReadResult::Timeout;
        const uint8_t* p = rx_.data() + rxBegin_;
        const uint32_t totalLength = net::readLE32(p);
        if (totalLength == 0) {  // keep-alive
            rxBegin_ += 4;
            ++keepAlives_;
            continue;
        }
        if (!net::isValidTotalLength(totalLength)) {
            broken_ = true;
            error_ = "invalid totalLength " + std::to_string(totalLength);
            return ReadResult::Invalid;
        }
        if (available - 4 < totalLength) return ReadResult::Timeout;

        net::DecodedMessage decoded;
        const net::DecodeResult result = net::decodeFrameBody(p + 4, totalLength, decoded);
        if (result == net::DecodeResult::Ok) {
            out.className = std::move(decoded.className);
            out.message = std::move(decoded.message);
            out.data.assign(decoded.data, decoded.data + decoded.dataLength);
        }
        rxBegin_ += 4 + size_t(totalLength);
        switch (result) {
        case net::DecodeResult::Ok: return ReadResult::Frame;
        case net::DecodeResult::BadHeadLength:
            error_ = "headLength " + std::to_string(net::readLE32(p + 4)) + " runs past totalLength " +
                     std::to_string(totalLength);
            return ReadResult::Invalid;
        case net::DecodeResult::HeadNotJson:
            error_ = "frame head is not a JSON object";
            return ReadResult::Invalid;
        case net::DecodeResult::BadMessage:
            error_ = "className or msgJson missing, or msgJson is not a JSON object";
            return ReadResult::Invalid;
        }
        return ReadResult::Invalid;
    }
}

ReadResult PhoneClient::fill(int timeoutMs) {
    if (fd_ < 0 || peerClosed_) return ReadResult::Closed;
    const detail::Deadline deadline(timeoutMs);
    for (;;) {
        int ready = detail::pollOne(fd_, POLLIN, deadline);
        if (ready == 0) return ReadResult::Timeout;
        if (ready < 0) {
            error_ = detail::errnoText("poll");
            return ReadResult::Closed;
        }

        // Drop consumed bytes before growing the buffer.
        if (rxBegin_ > 0 && rxBegin_ >= rx_.size() / 2) {
            rx_.erase(rx_.begin(), rx_.begin() + ptrdiff_t(rxBegin_));
            rxBegin_ = 0;
        }
        // Read the rest of a large frame in one go where possible.
        size_t chunk = kReadChunk;
        const size_t available = rx_.size() - rxBegin_;
        if (available >= 4) {
            const uint32_t totalLength = net::readLE32(rx_.data() + rxBegin_);
            if (net::isValidTotalLength(totalLength) && available < 4 + size_t(totalLength))
                chunk = std::max(chunk, 4 + size_t(totalLength) - available);
        }
        const size_t old = rx_.size();
        rx_.resize(old + chunk);
        ssize_t n = ::recv(fd_, rx_.data() + old, chunk, 0);
        rx_.resize(old + size_t(std::max<ssize_t>(n, 0)));
        if (n > 0) return ReadResult::Frame;
        if (n == 0) {
            peerClosed_ = true;
            error_ = "the PC closed the connection";
            return ReadResult::Closed;
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        peerClosed_ = true;
        error_ = detail::errnoText("recv");
        return ReadResult::Closed;
    }
}

ReadResult PhoneClient::readFrame(ReceivedFrame& out, int timeoutMs) {
    if (!pending_.empty()) {
        out = std::move(pending_.front());
        pending_.pop_front();
        return ReadResult::Frame;
    }
    if (broken_) return ReadResult::Invalid;
    const detail::Deadline deadline(timeoutMs);
    for (;;) {
        ReadResult r = takeBuffered(out);
        if (r != ReadResult::Timeout) return r;
        r = fill(deadline.remainingMs());
        if (r != ReadResult::Frame) return r;
    }
}

ReadResult PhoneClient::waitFor(std::string_view className, ReceivedFrame& out, int timeoutMs) {
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [&](const ReceivedFrame& f) { return f.className == className; });
    if (it != pending_.end()) {
        out = std::move(*it);
        pending_.erase(it);
        return ReadResult::Frame;
    }
    // The pending messages stay where they are: read only new ones below.
    std::deque<ReceivedFrame> keep;
    keep.swap(pending_);
    const detail::Deadline deadline(timeoutMs);
    ReadResult result;
    for (;;) {
        ReceivedFrame frame;
        result = readFrame(frame, deadline.remainingMs());
        if (result != ReadResult::Frame) break;
        if (frame.className == className) {
            out = std::move(frame);
            break;
        }
        keep.push_back(std::move(frame));
        ++skipped_;
        if (deadline.expired()) {
            result = ReadResult::Timeout;
            break;
        }
    }
    keep.swap(pending_);
    return result;
}

void PhoneClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void PhoneClient::closeGracefully(int timeoutMs) {
    if (fd_ < 0) return;
    ::shutdown(fd_, SHUT_WR);
    const detail::Deadline deadline(timeoutMs);
    uint8_t scratch[4096];
    while (!peerClosed_ && detail::pollOne(fd_, POLLIN, deadline) > 0) {
        ssize_t n = ::recv(fd_, scratch, sizeof scratch, 0);
        if (n == 0 || (n < 0 && errno != EINTR)) break;
    }
    close();
}

}  // namespace phone
