// Helpers shared by the measurement programs: clock, statistics, the command
// line and the plain loopback TCP sockets the reference transfers run on.
// Every socket here is bound to or connected to a 127.x.y.z address.
#pragma once

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace bench {

// A wait that would pass this has gone wrong: the program gives up instead of hanging.
inline constexpr int kStallSeconds = 20;

[[noreturn]] inline void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void fail(const char* format, ...) {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::fputs("FAILED: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::exit(1);
}

inline bool hasFlag(int argc, char** argv, std::string_view flag) {
    for (int i = 1; i < argc; ++i)
        if (flag == argv[i]) return true;
    return false;
}

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU seconds (user + system) used so far by all threads of this process.
// Less disturbed by other load on the machine than wall-clock time.
inline double processCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One timed run: wall-clock and process CPU seconds.
struct Timing {
    double seconds = 0;
    double cpu = 0;
};

class RunTimer {
public:
    RunTimer() : start_(Clock::now()), cpuStart_(processCpuSeconds()) {}
    Timing stop() const { return {secondsSince(start_), processCpuSeconds() - cpuStart_}; }

private:
    Clock::time_point start_;
    double cpuStart_;
};

// Decimal megabytes per second (10^6 bytes).
inline double megabytesPerSecond(double bytes, double seconds) {
    return seconds > 0 ? bytes / seconds / 1e6 : 0.0;
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double medianSeconds(const std::vector<Timing>& runs) {
    std::vector<double> v;
    for (const Timing& t : runs) v.push_back(t.seconds);
    return median(v);
}
inline double medianCpu(const std::vector<Timing>& runs) {
    std::vector<double> v;
    for (const Timing& t : runs) v.push_back(t.cpu);
    return median(v);
}

// Nearest-rank percentile (0 < p <= 100) of sorted values.
inline double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0.0;
    size_t rank = size_t(std::ceil(p / 100.0 * double(sorted.size())));
    rank = std::clamp<size_t>(rank, 1, sorted.size());
    return sorted[rank - 1];
}

inline uint32_t ipv4(const std::string& dotted) {
    in_addr a{};
    if (inet_pton(AF_INET, dotted.c_str(), &a) != 1) fail("not an IPv4 address: %s", dotted.c_str());
    if ((ntohl(a.s_addr) >> 24) != 127) fail("%s is not a loopback address", dotted.c_str());
    return a.s_addr;
}

inline sockaddr_in socketAddress(const std::string& dotted, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ipv4(dotted);
    a.sin_port = htons(port);
    return a;
}

inline void setNoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Blocking calls on the reference sockets give up after kStallSeconds.
inline void setStallTimeouts(int fd) {
    timeval t{kStallSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
}

inline bool writeAll(int fd, const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
        ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= size_t(n);
    }
    return true;
}

inline bool readAll(int fd, void* data, size_t length) {
    auto* p = static_cast<uint8_t*>(data);
    while (length > 0) {
        ssize_t n = ::recv(fd, p, length, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= size_t(n);
    }
    return true;
}

// A listening TCP socket on a loopback address and a port the kernel picks.
class Listener {
public:
    explicit Listener(const std::string& address) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local = socketAddress(address, 0);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::listen(fd_, 64) != 0)
            fail("listen on %s: %s", address.c_str(), std::strerror(errno));
        socklen_t length = sizeof local;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
        setStallTimeouts(fd_);  // accept() gives up too
    }
    ~Listener() { ::close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    uint16_t port() const { return port_; }
    int accept() {
        int s = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (s < 0) fail("accept: %s", std::strerror(errno));
        setStallTimeouts(s);
        return s;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

inline int connectTo(const std::string& address, uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in peer = socketAddress(address, port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0)
        fail("connect %s:%u: %s", address.c_str(), unsigned(port), std::strerror(errno));
    setStallTimeouts(fd);
    return fd;
}

}  // namespace bench
