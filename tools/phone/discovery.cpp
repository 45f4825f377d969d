#include "phone/discovery.h"

#include "net/frame_codec.h"
#include "phone/socket_util.h"
#include "protocol/message_names.h"

#include <cerrno>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace phone {

namespace {

constexpr size_t kMaxReply = 65536;

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

// Sends `text` to ip:port from a fresh socket, then hands every datagram that
// arrives before the deadline to `onReply` until it returns false. Returns
// false (with `error`) when the socket could not be made or the send failed.
bool exchange(const std::string& ip, uint16_t port, const std::string& text, int timeoutMs,
              const std::function<bool(const uint8_t*, size_t, const sockaddr_in&)>& onReply,
              std::string* error) {
    auto target = detail::makeAddress(ip, port);
    if (!target) {
        setError(error, "not an IPv4 address: " + ip);
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        setError(error, detail::errnoText("socket"));
        return false;
    }
    // Needed for 255.255.255.255 and subnet broadcasts; harmless otherwise.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);

    const std::string targetText = detail::formatAddress(*target);
    if (::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&*target),
                 sizeof *target) != ssize_t(text.size())) {
        setError(error, detail::errnoText(("sendto " + targetText).c_str()));
        ::close(fd);
        return false;
    }

    const detail::Deadline deadline(timeoutMs);
    std::vector<uint8_t> buffer(kMaxReply);
    for (;;) {
        int ready = detail::pollOne(fd, POLLIN, deadline);
        if (ready <= 0) break;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), 0,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            // An ICMP "port unreachable" from an earlier datagram shows up here.
            if (errno == EINTR || errno == ECONNREFUSED) continue;
            break;
        }
        if (!onReply(buffer.data(), size_t(n), from)) break;
    }
    ::close(fd);
    setError(error, "no reply from " + targetText + " within " + std::to_string(timeoutMs) + " ms");
    return true;
}

std::vector<ServerInfoReply> collectServerInfo(const std::string& ip, uint16_t port,
                                               int timeoutMs, size_t maxReplies,
                                               std::string* error) {
    std::vector<ServerInfoReply> replies;
    std::string rejected;
    std::string failure;
    bool sent = exchange(
        ip, port, protocol::kHello, timeoutMs,
        [&](const uint8_t* bytes, size_t size, const sockaddr_in& from) {
            std::string why;
            auto frame = parseDiscoveryDatagram(bytes, size, &why);
            if (frame && frame->className != protocol::MsgServerInfo)
                why = "unexpected class " + frame->className;
            if (!why.empty()) {
                rejected = detail::formatAddress(from) + ": " + why;
                return true;
            }
            replies.push_back({detail::formatAddress(from), std::move(frame->message)});
            return replies.size() < maxReplies;
        },
        &failure);
    if (replies.empty()) {
        if (sent && !rejected.empty()) failure += " (rejected " + rejected + ")";
        setError(error, failure);
    } else {
        setError(error, "");
    }
    return replies;
}

}  // namespace

std::optional<ReceivedFrame> parseDiscoveryDatagram(const uint8_t* bytes, size_t size,
                                                    std::string* error) {
    setError(error, "");
    if (size < 8) {
        setError(error, "datagram of " + std::to_string(size) + " bytes is too short");
        return std::nullopt;
    }
    const uint32_t totalLength = net::readLE32(bytes);
    if (!net::isValidTotalLength(totalLength) || size_t(totalLength) + 4 != size) {
        setError(error, "totalLength " + std::to_string(totalLength) + " does not match a datagram of " +
                            std::to_string(size) + " bytes");
        return std::nullopt;
    }
    const uint32_t headLength = net::readLE32(bytes + 4);
    if (size_t(headLength) + 4 != totalLength) {
        setError(error, "headLength " + std::to_string(headLength) + " does not fill totalLength " +
                            std::to_string(totalLength));
        return std::nullopt;
    }
    net::DecodedMessage decoded;
    if (net::decodeFrameBody(bytes + 4, totalLength, decoded) != net::DecodeResult::Ok) {
        setError(error, "head or msgJson is not valid JSON");
        return std::nullopt;
    }
    ReceivedFrame frame;
    frame.className = std::move(decoded.className);
    frame.message = std::move(decoded.message);
    return frame;
}

std::optional<ServerInfoReply> discover(const std::string& ip, uint16_t port, int timeoutMs,
                                        std::string* error) {
    auto replies = collectServerInfo(ip, port, timeoutMs, 1, error);
    if (replies.empty()) return std::nullopt;
    return std::move(replies.front());
}

std::vector<ServerInfoReply> discoverAll(const std::string& ip, uint16_t port, int timeoutMs,
                                         std::string* error) {
    return collectServerInfo(ip, port, timeoutMs, SIZE_MAX, error);
}

std::optional<std::string> sendDatagram(const std::string& ip, uint16_t port,
                                        const std::string& text, int timeoutMs,
                                        std::string* error) {
    std::optional<std::string> reply;
    std::string failure;
    exchange(
        ip, port, text, timeoutMs,
        [&](const uint8_t* bytes, size_t size, const sockaddr_in&) {
            reply.emplace(reinterpret_cast<const char*>(bytes), size);
            return false;
        },
        &failure);
    setError(error, reply ? std::string() : failure);
    return reply;
}

}  // namespace phone
