#include "net/session_server.h"

#include "net/client_session.h"
#include "net/socket_io.h"
#include "protocol/constants.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/clock.h"
#include "support/logger.h"
#include "support/strings.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net {

namespace f = protocol::field;

namespace {

// The system's largest accept queue: a classroom of phones connecting at the
// same moment must not have its handshakes dropped and retried for seconds.
int listenBacklog() {
    int backlog = SOMAXCONN;
    if (FILE* file = std::fopen("/proc/sys/net/core/somaxconn", "r")) {
        int value = 0;
        if (std::fscanf(file, "%d", &value) == 1 && value > backlog) backlog = value;
        std::fclose(file);
    }
    return backlog;
}

}  // namespace

SessionServer::SessionServer(platform::NetworkAdapters& adapters, platform::ScreenInfo& screen)
    : adapters_(adapters), screen_(screen), serverId_(support::gettime()) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

SessionServer::~SessionServer() {
    shutdown();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool SessionServer::waitReadable(int socket, int timeoutMs) {
    pollfd pfd[2] = {{socket, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int ready = ::poll(pfd, wakeFd_ >= 0 ? 2 : 1, timeoutMs);
    return ready > 0 && (pfd[0].revents & (POLLIN | POLLERR | POLLHUP));
}

bool SessionServer::start(uint32_t& address, uint16_t port, SessionCallback callback,
                          void* userData) {
    if (running_.load()) {
        address = address_.load();
        return true;
    }
    const std::vector<uint32_t> addresses = adapters_.localIPv4();
    if (addresses.empty()) {
        LOGOUT("no usable IPv4 address, session server not started");
        return false;
    }
    uint32_t chosen = addresses.front();
    if (addresses.size() > 1 && address != 0 &&
        std::find(addresses.begin(), addresses.end(), address) != addresses.end())
        chosen = address;
    address = chosen;

    address_.store(chosen);
    port_ = port;
    callback_ = std::move(callback);
    userData_ = userData;

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = chosen;
    local.sin_port = htons(port);
    int one = 1;

    int tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (tcp >= 0) ::setsockopt(tcp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (tcp < 0 || ::bind(tcp, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(tcp, listenBacklog()) != 0) {
        LOGOUT("!!!!!!!!!!!!!!!!socket bind: %d failed!!!!!!!!!!!!!", int(port));
        if (tcp >= 0) ::close(tcp);
        return false;
    }

    int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    local.sin_port = htons(protocol::kDiscoveryPort);
    if (udp < 0 || ::bind(udp, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        LOGOUT("!!!!!!!UDP BIND FAILED!!!!!!!!");
        if (udp >= 0) ::close(udp);
        ::close(tcp);
        return false;
    }
    ::setsockopt(udp, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);

    listenSocket_ = tcp;
    udpSocket_ = udp;
    openBroadcastSockets(chosen);
    eventfd_t drained = 0;
    if (wakeFd_ >= 0) ::eventfd_read(wakeFd_, &drained);
    stop_.store(false);
    halt_.store(false);
    udpThread_ = std::thread(&SessionServer::udpThread, this);
    listenThread_ = std::thread(&SessionServer::listenThread, this);
    onlineTestThread_ = std::thread(&SessionServer::onlineTestThread, this);
    running_.store(true);
    LOGOUT("session server on %s:%d", support::ip2string(chosen).c_str(), int(port));
    return true;
}

void SessionServer::listenThread() {
    while (!stop_.load() && !halt_.load()) {
        if (!waitReadable(listenSocket_, 500)) continue;
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int s = ::accept4(listenSocket_, reinterpret_cast<sockaddr*>(&peer), &length,
                          SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (s < 0) {
            // Resource shortages and aborted handshakes are temporary: keep
            // listening instead of leaving the PC unreachable.
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNABORTED ||
                error == EPROTO || error == EPERM) continue;
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
                LOGOUT("accept failed: %d, retrying", error);
                ::usleep(100 * 1000);
                continue;
            }
            LOGOUT("accept failed: %d", error);
            break;
        }
        setNoDelay(s);
        // The greeting is queued before the threads start, so it is always
        // the first frame the phone receives.
        Json::Value info;
        buildServerInfo(info);
        auto session = std::make_unique<ClientSession>(*this, s, peer, nextSessionId_.fetch_add(1));
        ClientSession* raw = session.get();
        raw->enqueue(encodeFrame(protocol::MsgServerInfo, info, nullptr, 0));
        {
            std::lock_guard<support::MyMutex> lock(lock_);
            sessions_.push_back(std::move(session));
            raw->startThreads();
        }
    }
    ::close(listenSocket_);
    listenSocket_ = -1;
    LOGOUT("listenThread returned");
}

void SessionServer::onlineTestThread() {
    for (;;) {
        for (int i = 0; i < 11; ++i) {
            if (stop_.load()) return;
            ::usleep(100 * 1000);
            // Phones the teacher just allowed need not wait for the full round.
            completeAllowed();
        }
        if (stop_.load()) return;
        std::vector<int> doomed;
        {
            std::lock_guard<support::MyMutex> lock(lock_);
            for (const auto& session : sessions_) {
                if (session->closing())
                    doomed.push_back(session->socket());
                else
                    session->enqueueKeepAliveIfIdle();
            }
        }
        for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) remove(*it);
        {
            std::lock_guard<support::MyMutex> lock(lock_);
            if (busy_ && support::gettime() - busySince_ > kBusyMillis) busy_ = false;
        }
    }
}

void SessionServer::completeAllowed() {
    std::vector<ClientSession*> allowed;
    {
        std::lock_guard<support::MyMutex> lock(lock_);
        for (const auto& session : sessions_)
            if (!session->closing() && session->access() == ClientSession::Access::Allowed)
                allowed.push_back(session.get());
    }
    // Only this thread removes sessions, so the pointers stay valid here.
    for (ClientSession* session : allowed) session->completeAllowed();
}

std::vector<core::PhoneEntry> SessionServer::phones() {
    std::vector<core::PhoneEntry> out;
    std::lock_guard<support::MyMutex> lock(lock_);
    for (const auto& s : sessions_) {
        const ClientSession::Access access = s->access();
        if (s->closing() || access == ClientSession::Access::Connected) continue;
        core::PhoneEntry e;
        e.id = s->id();
        e.socket = s->socket();
        e.address = s->peer().sin_addr.s_addr;
        e.held = access != ClientSession::Access::Ready;
        e.admin = !e.held && s->admin && s->identified();
        e.identity = e.held ? std::string() : s->uniqueId;
        e.tag = s->tag;
        out.push_back(std::move(e));
    }
    return out;
}

bool SessionServer::disconnect(uint64_t id) {
    std::lock_guard<support::MyMutex> lock(lock_);
    for (const auto& s : sessions_) {
        if (s->id() != id || s->closing()) continue;
        s->setClosing();
        LOGOUT("%s disconnected by the teacher", s->peerText().c_str());
        return true;
    }
    return false;
}

bool SessionServer::allow(uint64_t id) {
    std::lock_guard<support::MyMutex> lock(lock_);
    for (const auto& s : sessions_) {
        if (s->id() != id) continue;
        if (!s->allowHeld()) return false;
        LOGOUT("%s allowed by the teacher", s->peerText().c_str());
        return true;
    }
    return false;
}

bool SessionServer::refuse(uint64_t id) {
    std::lock_guard<support::MyMutex> lock(lock_);
    for (const auto& s : sessions_) {
        if (s->id() != id) continue;
        if (s->closing() || s->access() != ClientSession::Access::Held) return false;
        s->setClosing();
        LOGOUT("%s refused by the teacher", s->peerText().c_str());
        return true;
    }
    return false;
}

bool SessionServer::isHeld(uint64_t id) {
    std::lock_guard<support::MyMutex> lock(lock_);
    for (const auto& s : sessions_)
        if (s->id() == id) return !s->closing() && s->access() == ClientSession::Access::Held;
    return false;
}

void SessionServer::remove(int socket) {
    report(socket, nullptr, std::string(), Json::Value(), nullptr, 0, kClientGone);
    std::unique_ptr<ClientSession> session;
    {
        std::lock_guard<support::MyMutex> lock(lock_);
        auto it = std::find_if(sessions_.begin(), sessions_.end(),
                               [socket](const auto& s) { return s->socket() == socket; });
        if (it == sessions_.end()) return;
        if ((*it)->admin && (*it)->identified()) {
            controllerTag_.clear();
            controllerWidth_ = 0;
            controllerHeight_ = 0;
        }
        session = std::move(*it);
        sessions_.erase(it);
    }
    // Joined outside the lock: its receive thread may be waiting for the lock.
    session.reset();
}

void SessionServer::report(int socket, const sockaddr_in* peer, const std::string& className,
                           const Json::Value& message, const uint8_t* data, size_t dataLength,
                           int event) {
    if (!callback_) return;
    try {
        callback_(socket, peer, className, message, data, dataLength, event, userData_);
    } catch (const std::exception& e) {
        LOGOUT("handler of %s failed: %s", className.c_str(), e.what());
    } catch (...) {
        LOGOUT("handler of %s failed", className.c_str());
    }
}

void SessionServer::send(std::string_view className, const Json::Value& message, const void* data,
                         size_t dataLength, int target) {
    // Head and tail together must stay below the receivers' frame limit, or
    // the phone would lose the frame boundaries.
    if (dataLength >= kMaxTotalLength) {
        LOGOUT("%.*s not sent: %zu bytes is too large for a frame", int(className.size()),
               className.data(), dataLength);
        return;
    }
    Frame frame = encodeFrame(className, message, data, dataLength);
    if (!isSendable(frame)) {
        LOGOUT("%.*s not sent: %zu bytes is too large for a frame", int(className.size()),
               className.data(), frame->size());
        return;
    }
    sendFrame(frame, target);
}

void SessionServer::sendFrameIf(const Frame& frame,
                                const std::function<bool(int socket, size_t queuedBytes)>& accept) {
    std::lock_guard<support::MyMutex> lock(lock_);
    for (const auto& session : sessions_) {
        if (session->closing() || session->access() != ClientSession::Access::Ready) continue;
        if (accept(session->socket(), session->queuedBytes())) session->enqueue(frame);
    }
}

void SessionServer::sendFrame(const Frame& frame, int target) {
    std::lock_guard<support::MyMutex> lock(lock_);
    for (const auto& session : sessions_) {
        if (session->closing()) continue;
        if (target != -1 && session->socket() != target) continue;
        // What goes to every phone (the screen, the tools' states) is not for
        // peers that have not been let in.
        if (target == -1 && session->access() != ClientSession::Access::Ready) continue;
        session->enqueue(frame);
        if (target != -1) break;
    }
}

void SessionServer::disconnectAll() {
    {
        std::lock_guard<support::MyMutex> lock(lock_);
        for (const auto& session : sessions_) session->setClosing();
        busySince_ = support::gettime();
        busy_ = true;
    }
    for (;;) {
        {
            std::lock_guard<support::MyMutex> lock(lock_);
            bool anyLeft = std::any_of(sessions_.begin(), sessions_.end(),
                                       [](const auto& s) { return s->identified(); });
            if (!anyLeft || stop_.load()) return;
        }
        ::usleep(5 * 1000);
    }
}

void SessionServer::halt() {
    halt_.store(true);
    if (wakeFd_ >= 0) ::eventfd_write(wakeFd_, 1);
}

void SessionServer::shutdown() {
    stop_.store(true);
    if (wakeFd_ >= 0) ::eventfd_write(wakeFd_, 1);
    if (listenThread_.joinable()) {
        listenThread_.join();
        LOGOUT("tcpListenThread...");
    }
    if (onlineTestThread_.joinable()) {
        onlineTestThread_.join();
        LOGOUT("onlineTestThread...");
    }
    if (udpThread_.joinable()) {
        udpThread_.join();
        LOGOUT("udpThread...");
    }
    std::vector<std::unique_ptr<ClientSession>> remaining;
    {
        std::lock_guard<support::MyMutex> lock(lock_);
        remaining.swap(sessions_);
    }
    while (!remaining.empty()) remaining.pop_back();  // last first, no events
    running_.store(false);
}

bool SessionServer::isIdentified(int socket) {
    std::lock_guard<support::MyMutex> lock(lock_);
    for (const auto& s : sessions_)
        if (s->socket() == socket) return s->identified();
    return false;
}

bool SessionServer::isAdmin(int socket) {
    std::lock_guard<support::MyMutex> lock(lock_);
    for (const auto& s : sessions_)
        if (s->socket() == socket) return s->identified() && s->admin;
    return false;
}

bool SessionServer::anyIdentified() {
    std::lock_guard<support::MyMutex> lock(lock_);
    return std::any_of(sessions_.begin(), sessions_.end(), [](const auto& s) { return s->identified(); });
}

bool SessionServer::anyAdminLocked() const {
    return std::any_of(sessions_.begin(), sessions_.end(),
                       [](const auto& s) { return s->identified() && s->admin; });
}

bool SessionServer::anyAdmin() {
    std::lock_guard<support::MyMutex> lock(lock_);
    return anyAdminLocked();
}

size_t SessionServer::identifiedAddresses(std::vector<uint32_t>& out) {
    std::lock_guard<support::MyMutex> lock(lock_);
    out.clear();
    for (const auto& s : sessions_)
        if (s->identified()) out.push_back(s->peer().sin_addr.s_addr);
    return out.size();
}

std::string SessionServer::controllerTag() {
    std::lock_guard<support::MyMutex> lock(lock_);
    return controllerTag_;
}

int SessionServer::controllerWidth() {
    std::lock_guard<support::MyMutex> lock(lock_);
    return controllerWidth_;
}

int SessionServer::controllerHeight() {
    std::lock_guard<support::MyMutex> lock(lock_);
    return controllerHeight_;
}

size_t SessionServer::sessionCount() {
    std::lock_guard<support::MyMutex> lock(lock_);
    return sessions_.size();
}

bool SessionServer::isBusy() {
    std::lock_guard<support::MyMutex> lock(lock_);
    return busy_;
}

void SessionServer::setServerName(const std::string& name) {
    std::lock_guard<support::MyMutex> lock(lock_);
    serverName_ = name;
}

void SessionServer::buildServerInfo(Json::Value& message) {
    const platform::ScreenSize screen = screen_.primaryScreenSize();
    const std::string address = support::ip2string(address_.load());
    char ftpUrl[128];
    char httpUrl[128];
    std::snprintf(ftpUrl, sizeof ftpUrl, protocol::kFtpUrlFormat, address.c_str(), int(protocol::kFtpPort));
    std::snprintf(httpUrl, sizeof httpUrl, protocol::kHttpUrlFormat, address.c_str(), int(protocol::kHttpPort));

    message = Json::Value(Json::objectValue);
    message[f::serverId] = Json::Value::Int64(serverId_);
    message[f::platform] = protocol::kPlatform;
    message[f::screenWidth] = screen.width;
    message[f::screenHeight] = screen.height;
    message[f::versionCode] = protocol::kVersionCode;
    message[f::versionName] = protocol::kVersionName;
    message[f::ftpUrl] = ftpUrl;
    message[f::httpUrl] = httpUrl;
    message[f::maxClients] = maxClients_.load();
    std::lock_guard<support::MyMutex> lock(lock_);
    message[f::name] = serverName_;
    message[f::useable] = !busy_ && !anyAdminLocked();
}

}  // namespace net
