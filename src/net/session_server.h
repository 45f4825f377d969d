// The PC's end of the classroom link: accepts phones on TCP, answers discovery
// on UDP, keeps the session list, greets, sends, keeps sessions alive and
// removes dead ones.
#pragma once

#include "core/phone_access.h"
#include "net/frame_codec.h"
#include "net/session_types.h"
#include "platform/network_adapters.h"
#include "platform/screen_info.h"
#include "support/my_mutex.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace net {

class ClientSession;

class SessionServer : public SessionPort, public core::PhoneDirectory {
public:
    // Per-session bound of queued, unsent bytes; a phone that stops reading is
    // closed when its queue passes it.
    static constexpr size_t kDefaultSendQueueLimit = 64u << 20;
    static constexpr int64_t kBusyMillis = 8000;
    // Largest frame a phone may send before its MsgClientInfo was accepted.
    static constexpr uint32_t kPreHandshakeFrameLimit = 64 * 1024;
    // A session whose partial frame gets no further byte for this long ends.
    static constexpr int kDefaultStallMillis = 30000;

    SessionServer(platform::NetworkAdapters& adapters, platform::ScreenInfo& screen);
    ~SessionServer();  // shutdown()
    SessionServer(const SessionServer&) = delete;
    SessionServer& operator=(const SessionServer&) = delete;

    // Binds TCP `port` and UDP 49872 on a local address and starts the threads.
    // `address` (network order) 0 lets the server choose; on success it holds
    // the address bound. A failed start leaves the server ready for another try.
    bool start(uint32_t& address, uint16_t port, SessionCallback callback, void* userData);

    // Encodes one frame and queues it on the session whose socket is `target`,
    // or on every session when `target` is -1.
    void send(std::string_view className, const Json::Value& message, const void* data,
              size_t dataLength, int target) override;
    // Queues an already encoded frame the same way.
    void sendFrame(const Frame& frame, int target);
    // Queues an encoded frame on every session for which `accept(socket,
    // queuedBytes)` returns true; the live stream uses it to skip pictures for
    // phones that fell behind. `accept` runs under the server lock and must
    // not call back into the server.
    void sendFrameIf(const Frame& frame,
                     const std::function<bool(int socket, size_t queuedBytes)>& accept);

    // Closes every session and reports the server unusable for 8 s. Waits until
    // the online test has removed the identified sessions: never call it from a
    // session's receive thread or the online-test thread.
    void disconnectAll();
    void halt();
    bool isRunning() const { return running_.load(); }
    // Sets stop, joins the server threads and destroys the sessions without
    // reporting events. Safe to call twice.
    void shutdown();

    bool isIdentified(int socket);
    bool isAdmin(int socket) override;
    uint32_t boundAddress() override { return address_.load(); }
    bool anyIdentified();
    bool anyAdmin();
    size_t identifiedAddresses(std::vector<uint32_t>& out);
    std::string controllerTag();
    int controllerWidth();
    int controllerHeight();
    size_t sessionCount();
    bool isBusy();

    // core::PhoneDirectory: the phones as the windows list them, and the
    // teacher's answers for held phones. An allowed phone's client-ready
    // event is reported on the online-test thread within about 100 ms.
    std::vector<core::PhoneEntry> phones() override;
    bool disconnect(uint64_t id) override;
    bool allow(uint64_t id) override;
    bool refuse(uint64_t id) override;
    bool isHeld(uint64_t id) override;

    // Asked after every handshake whether the phone must wait for the
    // teacher's approval; null lets every phone in. Set it before start and
    // keep it until shutdown.
    void setAdmission(core::PhoneAdmission* admission) { admission_.store(admission); }
    core::PhoneAdmission* admission() const { return admission_.load(); }

    // Fills the fields of MsgServerInfo.
    void buildServerInfo(Json::Value& message);

    void setServerName(const std::string& name);
    void setMaxClients(int maxClients) { maxClients_.store(maxClients); }
    void setRecorder(RecordControl* recorder) { recorder_.store(recorder); }
    void setSendQueueLimit(size_t bytes) { sendQueueLimit_.store(bytes); }
    size_t sendQueueLimit() const { return sendQueueLimit_.load(); }
    // For sessions accepted from now on.
    void setStallTimeout(int millis) { stallMillis_.store(millis); }
    int stallTimeout() const { return stallMillis_.load(); }

    uint32_t address() const { return address_.load(); }
    uint16_t port() const { return port_; }
    int64_t serverId() const { return serverId_; }

private:
    friend class ClientSession;

    void listenThread();
    void onlineTestThread();
    void udpThread();
    void remove(int socket);
    // Online-test thread: reports the phones the teacher allowed as ready.
    void completeAllowed();
    // Opens the sockets that take the bound adapter's broadcasts (subnet and
    // 255.255.255.255); failures are logged and leave discovery unicast only.
    void openBroadcastSockets(uint32_t address);
    // Reads one datagram from `socket`; false when it must be ignored (nothing
    // read, or it came in on another adapter than the bound one).
    bool receiveDatagram(int socket, char* buffer, size_t& length, sockaddr_in& from);
    void handleDatagram(const char* text, size_t length, const sockaddr_in& from);
    void sendDatagram(const void* data, size_t length, const sockaddr_in& to);
    // Called by a session's receive thread.
    void report(int socket, const sockaddr_in* peer, const std::string& className,
                const Json::Value& message, const uint8_t* data, size_t dataLength, int event);
    bool anyAdminLocked() const;
    // poll() on the socket and the wake descriptor; true when the socket is ready.
    bool waitReadable(int socket, int timeoutMs);

    platform::NetworkAdapters& adapters_;
    platform::ScreenInfo& screen_;

    std::thread listenThread_;
    std::thread udpThread_;
    std::thread onlineTestThread_;
    int listenSocket_ = -1;
    int udpSocket_ = -1;         // bound to the unicast address; replies leave through it
    int subnetBroadcastSocket_ = -1;   // bound to the adapter's broadcast address
    int limitedBroadcastSocket_ = -1;  // bound to 255.255.255.255
    int boundInterface_ = 0;     // interface index of the bound adapter, 0 when unknown
    int wakeFd_ = -1;  // eventfd that wakes the listen and UDP threads at halt and stop
    std::atomic<uint32_t> address_{0};
    uint16_t port_ = 0;
    SessionCallback callback_;
    void* userData_ = nullptr;

    support::MyMutex lock_;  // guards sessions_, the controller profile and busy
    std::vector<std::unique_ptr<ClientSession>> sessions_;
    int64_t busySince_ = 0;
    bool busy_ = false;
    std::string controllerTag_;
    int controllerWidth_ = 0;
    int controllerHeight_ = 0;
    std::string serverName_;

    const int64_t serverId_;
    std::atomic<bool> stop_{true};
    std::atomic<bool> halt_{false};
    std::atomic<bool> running_{false};
    std::atomic<int> maxClients_{100};
    std::atomic<RecordControl*> recorder_{nullptr};
    std::atomic<core::PhoneAdmission*> admission_{nullptr};
    std::atomic<uint64_t> nextSessionId_{1};
    std::atomic<size_t> sendQueueLimit_{kDefaultSendQueueLimit};
    std::atomic<int> stallMillis_{kDefaultStallMillis};
};

}  // namespace net
