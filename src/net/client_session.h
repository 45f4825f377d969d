// One accepted phone connection: a receive thread that reads and dispatches
// frames, a send thread that drains the queue, and the handshake state.
#pragma once

#include "core/phone_access.h"
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

    // Where the phone stands: no accepted MsgClientInfo yet; held for the
    // teacher's approval; allowed, its client-ready event not yet reported;
    // ready, its messages are dispatched.
    enum class Access { Connected, Held, Allowed, Ready };
    // Messages dropped before the session is ready are logged up to this many.
    static constexpr int kDropLogLimit = 10;

    ClientSession(SessionServer& server, int socket, const sockaddr_in& peer, uint64_t id);
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
    uint64_t id() const { return id_; }
    Access access() const { return access_.load(); }
    const sockaddr_in& peer() const { return peer_; }
    const std::string& peerText() const { return peerText_; }
    bool closing() const { return closeFlag_.load(); }
    void setClosing() { closeFlag_.store(true); }
    size_t queuedBytes();

    // Handshake state, guarded by the server's lock.
    bool admin = false;
    std::string uniqueId;
    std::string tag;  // "tag" of the accepted or held MsgClientInfo
    bool identified() const { return !uniqueId.empty(); }
    // Under the server's lock: the teacher let a held phone in.
    bool allowHeld();

    // On the online-test thread, for an allowed phone: finishes its handshake
    // and reports it ready (or ends it when another admin came first).
    void completeAllowed();

private:
    struct ClientInfo {
        std::string id;
        bool wantsAdmin = true;
        std::string tag;
        int width = 0, height = 0;
        bool hasTag = false, hasWidth = false, hasHeight = false;
        Json::Value message;
    };

    void recvThread();
    void sendThread();
    enum class Handshake { Accepted, Held, Dropped, Refused };
    Handshake handshake(const Json::Value& message);
    // Takes the phone in as the handshake describes it; false (session
    // closing) when it asks to be the admin while another admin is there.
    bool admit(const ClientInfo& info);
    void natCheck(const Json::Value& message);
    void dropBeforeReady(const std::string& className);

    SessionServer& server_;
    const int socket_;
    const uint64_t id_;
    const sockaddr_in peer_;
    const std::string peerText_;

    std::mutex queueMutex_;
    std::condition_variable sendSignal_;
    std::deque<Frame> sendQueue_;
    size_t queuedBytes_ = 0;
    bool overLimitLogged_ = false;

    std::atomic<Access> access_{Access::Connected};
    ClientInfo pending_;  // a held phone's handshake; under the server's lock
    int droppedBeforeReady_ = 0;  // receive thread only

    std::atomic<bool> closeFlag_{false};
    std::atomic<bool> stopFlag_{false};
    std::thread recvThread_;
    std::thread sendThread_;
};

}  // namespace net
