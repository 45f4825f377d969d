// Small helpers shared by the TCP and UDP parts of the phone client.
#pragma once

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <string>

namespace phone::detail {

// Parses a dotted IPv4 address into a socket address with `port`.
std::optional<sockaddr_in> makeAddress(const std::string& ip, uint16_t port);
std::string formatAddress(const sockaddr_in& address);
// "what: strerror(errno)"
std::string errnoText(const char* what);

// A point in time after which a wait gives up; negative time-outs never expire.
class Deadline {
public:
    explicit Deadline(int timeoutMs);
    // Milliseconds left for poll(): -1 without limit, 0 once expired.
    int remainingMs() const;
    bool expired() const { return remainingMs() == 0; }

private:
    bool infinite_;
    std::chrono::steady_clock::time_point end_;
};

// poll() for one event on one descriptor, retried on EINTR until the deadline.
// Returns >0 ready, 0 time-out, <0 failure.
int pollOne(int fd, short events, const Deadline& deadline);

}  // namespace phone::detail
