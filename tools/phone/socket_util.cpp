#include "phone/socket_util.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <poll.h>

namespace phone::detail {

std::optional<sockaddr_in> makeAddress(const std::string& ip, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) return std::nullopt;
    return address;
}

std::string formatAddress(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

Deadline::Deadline(int timeoutMs)
    : infinite_(timeoutMs < 0),
      end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs)) {}

int Deadline::remainingMs() const {
    if (infinite_) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end_ - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
        // Sub-millisecond rest: let poll() look once more without waiting.
        return 0;
    }
    return int(left);
}

int pollOne(int fd, short events, const Deadline& deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, deadline.remainingMs());
        if (r < 0 && errno == EINTR) continue;
        return r;
    }
}

}  // namespace phone::detail
