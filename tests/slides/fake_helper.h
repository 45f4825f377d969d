// A stand-in for the slide helper: a UDP socket on port 16161 of a test's own
// loopback address that records the bridge's commands and answers with any
// datagram the test writes.
#pragma once

#include <arpa/inet.h>
#include <json/reader.h>
#include <json/value.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>

namespace slides_test {

class FakeHelper {
public:
    FakeHelper(const std::string& address, uint16_t port = 16161, uint16_t bridgePort = 16162)
        : address_(address), bridgePort_(bridgePort) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = make(address, port);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FakeHelper() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    // The next command the bridge sent, parsed; nullopt after `ms` of silence.
    std::optional<Json::Value> next(int ms = 2000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return std::nullopt;
        char buffer[65536];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return std::nullopt;
        Json::Value v;
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        std::string errors;
        if (!reader->parse(buffer, buffer + n, &v, &errors)) return Json::Value("unparsable");
        return v;
    }
    // The `cmd` of the next command, "" after `ms` of silence.
    std::string nextCmd(int ms = 2000) {
        auto v = next(ms);
        return v ? (*v)["cmd"].asString() : std::string();
    }
    void send(const std::string& text) {
        sockaddr_in a = make(address_, bridgePort_);
        ::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }

private:
    static sockaddr_in make(const std::string& address, uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        return a;
    }
    std::string address_;
    uint16_t bridgePort_;
    int fd_ = -1;
};

}  // namespace slides_test
