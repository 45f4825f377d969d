// One accepted phone connection: a receive thread that reads and dispatches
// frames, a send thread that drains the queue, and the handshake state.
#pragma once

#include "net/frame_codec.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <thread>

namespace net {

class SessionServer;

class ClientSession {
public:
    // Coalesced writes stop growing once they pass this size.
    static constexpr size_t kGatherLimit = 512000;
    static constexpr int kSendWaitMillis = 200;

    ClientSession(SessionServer& server, int socket, const sockaddr_in& peer);
    // Destruction runs on a server thread only: stops both threads, closes the
    // socket and releases every queued frame.
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    void startThreads();
    // Queues a frame. A session whose unsent bytes would pass the server's
    // limit is closed instead (the frame is dropped).
    void enqueue(const Frame& frame);
    // Queues a keep-alive when nothing else is waiting.
    void enqueueKeepAliveIfIdle();

    int socket() const { return socket_; }
    const sockaddr_in& peer() const { return peer_; }
    const std::string& peerText() const { return peerText_; }
    bool closing() const { return closeFlag_.load(); }
    void setClosing() { closeFlag_.store(true); }
    size_t queuedBytes();

    // Handshake state, guarded by the server's lock.
    bool admin = false;
    std::string uniqueId;
    bool identified() const { return !uniqueId.empty(); }

private:
    void recvThread();
    void sendThread();
    enum class Handshake { Accepted, Dropped, Refused };
    Handshake handshake(const Json::Value& message);
    void natCheck(const Json::Value& message);

    SessionServer& server_;
    const int socket_;
    const sockaddr_in peer_;
    const std::string peerText_;

    std::mutex queueMutex_;
    std::condition_variable sendSignal_;
    std::deque<Frame> sendQueue_;
    size_t queuedBytes_ = 0;
    bool overLimitLogged_ = false;

    std::atomic<bool> closeFlag_{false};
    std::atomic<bool> stopFlag_{false};
    std::thread recvThread_;
    std::thread sendThread_;
};

}  // namespace net
