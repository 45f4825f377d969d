// The live stream service: every client that connects to TCP 37374 gets the
// stream parameters and then every encoded picture, without asking. It
// subscribes to the encoder while at least one client is connected. All
// socket work runs on one I/O thread.
#pragma once

#include "net/frame_codec.h"
#include "stream/screen_encode_service.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace stream {

class LiveService {
public:
    // A client whose unsent bytes pass this, or that has more than two
    // seconds of pictures waiting (queued here or still held by the kernel),
    // loses its queued pictures up to the next key frame.
    static constexpr size_t kDefaultQueueLimit = 8u << 20;
    // Queued frames are merged into writes of just over this size.
    static constexpr size_t kMergeLimit = 512000;

    explicit LiveService(ScreenEncodeService& encoder);
    ~LiveService();  // shutdown()
    LiveService(const LiveService&) = delete;
    LiveService& operator=(const LiveService&) = delete;

    // Binds `address` (dotted IPv4; "0.0.0.0" for every address) on `port`
    // and starts the I/O thread. On failure logs "bind failed: <step>: <error>"
    // and returns false.
    bool start(const std::string& address = "0.0.0.0", uint16_t port = 37374);
    // Unsubscribes, closes the listener and every client, ends the I/O thread.
    // Safe to call twice.
    void shutdown();

    // The bound port (useful with port 0), 0 when not running.
    uint16_t port() const { return port_.load(); }
    size_t clientCount() const { return clientCount_.load(); }
    bool subscribed();
    void setQueueLimit(size_t bytes) { queueLimit_.store(bytes); }
    // Pictures dropped because a client fell behind.
    uint64_t picturesDropped() const { return dropped_.load(); }
    // Bytes waiting in all client queues.
    size_t queuedBytes() const { return queuedBytes_.load(); }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::atomic<uint16_t> port_{0};
    std::atomic<size_t> clientCount_{0};
    std::atomic<size_t> queueLimit_{kDefaultQueueLimit};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<size_t> queuedBytes_{0};
};

}  // namespace stream
