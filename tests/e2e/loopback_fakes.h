// Loopback stand-ins for the PC (a TCP peer and a UDP responder) and a runner
// for the built programs.
#pragma once

#include "net/frame_codec.h"
#include "phone/phone_client.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace e2e {

// A socket of `type` bound to 127.0.0.1 on an ephemeral port.
inline int bindLoopback(int type, uint16_t& port) {
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), len), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

inline bool waitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

// Plays the PC's side of one TCP connection.
class FakeTcpPeer {
public:
    FakeTcpPeer() : listen_(bindLoopback(SOCK_STREAM, port_)) { ::listen(listen_, 4); }
    ~FakeTcpPeer() {
        closeConnection();
        ::close(listen_);
    }
    uint16_t port() const { return port_; }

    bool accept() {
        if (waitReadable(listen_, 3000)) conn_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        return conn_ >= 0;
    }
    void closeConnection() {
        if (conn_ >= 0) ::close(conn_);
        conn_ = -1;
    }

    void write(const void* bytes, size_t n) {
        for (const auto* p = static_cast<const uint8_t*>(bytes); n > 0;) {
            ssize_t r = ::send(conn_, p, n, MSG_NOSIGNAL);
            ASSERT_GT(r, 0);
            p += r;
            n -= size_t(r);
        }
    }
    void write(const std::vector<uint8_t>& bytes) { write(bytes.data(), bytes.size()); }
    void write(const net::Frame& frame) { write(*frame); }
    void writeLE32(uint32_t v) {
        uint8_t b[4];
        net::writeLE32(b, v);
        write(b, 4);
    }
    void writeKeepAlive() { writeLE32(0); }

    // Exactly n bytes, or nothing on close or after `timeoutMs` of silence.
    std::optional<std::vector<uint8_t>> readBytes(size_t n, int timeoutMs = 3000) {
        std::vector<uint8_t> out(n);
        for (size_t got = 0; got < n;) {
            ssize_t r = waitReadable(conn_, timeoutMs) ? ::recv(conn_, out.data() + got, n - got, 0) : -1;
            if (r <= 0) return std::nullopt;
            got += size_t(r);
        }
        return out;
    }

    // The next message the client sent (keep-alives skipped), decoded.
    std::optional<phone::ReceivedFrame> readMessage() {
        std::optional<std::vector<uint8_t>> length;
        while ((length = readBytes(4)) && net::readLE32(length->data()) == 0) {}
        if (!length || !net::isValidTotalLength(net::readLE32(length->data()))) return std::nullopt;
        auto body = readBytes(net::readLE32(length->data()));
        net::DecodedMessage m;
        if (!body || net::decodeFrameBody(body->data(), body->size(), m) != net::DecodeResult::Ok)
            return std::nullopt;
        return phone::ReceivedFrame{m.className, m.message, {m.data, m.data + m.dataLength}};
    }

private:
    uint16_t port_ = 0;
    int listen_ = -1;
    int conn_ = -1;
};

// Answers each datagram with what `answer` returns, on its own thread.
class FakeUdpResponder {
public:
    using Answer = std::function<std::vector<std::string>(const std::string& request)>;

    explicit FakeUdpResponder(Answer answer)
        : answer_(std::move(answer)), fd_(bindLoopback(SOCK_DGRAM, port_)), thread_([this] { loop(); }) {}
    ~FakeUdpResponder() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    uint16_t port() const { return port_; }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void loop() {
        char buffer[4096];
        while (!stop_) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = waitReadable(fd_, 20) ? ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                                           reinterpret_cast<sockaddr*>(&from), &len)
                                              : -1;
            if (n < 0) continue;
            std::string request(buffer, size_t(n));
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            for (const auto& reply : answer_(request))
                ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }

    Answer answer_;
    uint16_t port_ = 0;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;  // last: starts after everything it uses
};

inline std::string frameText(const net::Frame& frame) { return std::string(frame->begin(), frame->end()); }

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A program started with exactly the environment `env` and its stdout and
// stderr going to files; killed if still running when destroyed.
class ChildProcess {
public:
    ChildProcess(const std::string& program, std::vector<std::string> args, std::vector<std::string> env,
                 const std::string& outFile, const std::string& errFile) {
        args.insert(args.begin(), program);
        auto pointers = [](std::vector<std::string>& v) {
            std::vector<char*> p;
            for (auto& s : v) p.push_back(s.data());
            p.push_back(nullptr);
            return p;
        };
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, pointers(args).data(),
                        pointers(env).data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    }
    bool started() const { return pid_ > 0; }
    void signal(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }
    // The exit code once the process ended within `timeoutMs`; -1 when it was
    // killed by a signal, never started or is still running.
    int wait(int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (pid_ <= 0) return -1;
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = 0;
};

struct ProgramResult {
    int exitCode = -1;  // -1 when killed or timed out
    std::string out;
    std::string err;
};

// Runs `program` to its end (killed after 20 s) and collects its output.
inline ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::vector<std::string>& env) {
    static std::atomic<int> serial{0};
    const std::string base =
        ::testing::TempDir() + "run-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    ProgramResult result;
    result.exitCode = ChildProcess(program, args, env, base + ".out", base + ".err").wait(20000);
    result.out = readFile(base + ".out");
    result.err = readFile(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return result;
}

}  // namespace e2e
