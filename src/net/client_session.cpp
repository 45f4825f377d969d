#include "net/client_session.h"

#include "net/session_server.h"
#include "net/socket_io.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/logger.h"
#include "support/strings.h"

#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace net {

namespace f = protocol::field;

ClientSession::ClientSession(SessionServer& server, int socket, const sockaddr_in& peer)
    : server_(server), socket_(socket), peer_(peer),
      peerText_(support::ip2string(peer.sin_addr.s_addr)) {}

ClientSession::~ClientSession() {
    closeFlag_.store(true);
    stopFlag_.store(true);
    // shutdown() wakes both threads out of poll(); the descriptor is closed
    // only after they ended so its number cannot be reused under them.
    ::shutdown(socket_, SHUT_RDWR);
    sendSignal_.notify_all();
    if (sendThread_.joinable()) sendThread_.join();
    if (recvThread_.joinable()) recvThread_.join();
    ::close(socket_);
    std::lock_guard<std::mutex> lock(queueMutex_);
    sendQueue_.clear();
}

void ClientSession::startThreads() {
    recvThread_ = std::thread(&ClientSession::recvThread, this);
    sendThread_ = std::thread(&ClientSession::sendThread, this);
}

void ClientSession::enqueue(const Frame& frame) {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        const size_t limit = server_.sendQueueLimit();
        if (queuedBytes_ + frame->size() > limit) {
            closeFlag_.store(true);
            if (!overLimitLogged_) {
                overLimitLogged_ = true;
                LOGOUT("%s send queue over %zu bytes, closing the session", peerText_.c_str(), limit);
            }
            return;
        }
        sendQueue_.push_back(frame);
        queuedBytes_ += frame->size();
    }
    sendSignal_.notify_one();
}

void ClientSession::enqueueKeepAliveIfIdle() {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (!sendQueue_.empty()) return;
        Frame keepAlive = keepAliveFrame();
        sendQueue_.push_back(keepAlive);
        queuedBytes_ += keepAlive->size();
    }
    sendSignal_.notify_one();
}

size_t ClientSession::queuedBytes() {
    std::lock_guard<std::mutex> lock(queueMutex_);
    return queuedBytes_;
}

void ClientSession::recvThread() {
    SocketByteSource source(socket_, server_.stallTimeout());
    FrameReader reader(source, peerText_);
    // Until the phone identified itself, only small frames are taken: an
    // unknown peer cannot make the PC hold large buffers.
    reader.setFrameLimit(SessionServer::kPreHandshakeFrameLimit);
    DecodedMessage decoded;
    while (!closeFlag_.load() && !stopFlag_.load()) {
        ReadStatus status = reader.next(decoded);
        if (status == ReadStatus::End) {
            closeFlag_.store(true);
            break;
        }
        if (status == ReadStatus::Dropped) continue;
        if (decoded.className == protocol::MsgClientInfo) {
            const Handshake result = handshake(decoded.message);
            if (result == Handshake::Refused) break;
            if (result == Handshake::Accepted) reader.setFrameLimit(kMaxTotalLength - 1);
            continue;
        }
        server_.report(socket_, &peer_, decoded.className, decoded.message, decoded.data,
                       decoded.dataLength, kMessage);
    }
    LOGOUT("%s recvThread returned", peerText_.c_str());
}

// Refused: the receive thread must end. Dropped: a field had the wrong type.
ClientSession::Handshake ClientSession::handshake(const Json::Value& message) {
    std::string id;
    bool wantsAdmin = true;
    std::string tag;
    int width = 0, height = 0;
    bool hasTag = false, hasWidth = false, hasHeight = false;
    try {
        if (message.isMember(f::mac)) id = message[f::mac].asString();
        if (message.isMember(f::uniqueId)) id = message[f::uniqueId].asString();
        if (message.isMember(f::admin)) wantsAdmin = message[f::admin].asBool();
        if ((hasTag = message.isMember(f::tag))) tag = message[f::tag].asString();
        if ((hasWidth = message.isMember(f::width))) width = message[f::width].asInt();
        if ((hasHeight = message.isMember(f::height))) height = message[f::height].asInt();
    } catch (const std::exception& e) {
        LOGOUT("%s %s dropped: %s", peerText_.c_str(), protocol::MsgClientInfo, e.what());
        return Handshake::Dropped;
    }

    {
        std::lock_guard<support::MyMutex> lock(server_.lock_);
        if (wantsAdmin) {
            for (const auto& other : server_.sessions_) {
                if (other.get() != this && other->admin && other->identified()) {
                    closeFlag_.store(true);
                    LOGOUT("%s refused: another admin phone is connected", peerText_.c_str());
                    return Handshake::Refused;
                }
            }
            if (hasTag) server_.controllerTag_ = tag;
            if (hasWidth) server_.controllerWidth_ = width;
            if (hasHeight) server_.controllerHeight_ = height;
            admin = true;
        }
        uniqueId = id;
    }

    natCheck(message);
    server_.report(socket_, &peer_, std::string(), Json::Value(), nullptr, 0, kClientReady);
    return Handshake::Accepted;
}

void ClientSession::natCheck(const Json::Value& message) {
    if (!message.isMember(f::ftpUrl) || !message[f::ftpUrl].isString()) return;
    const std::string url = message[f::ftpUrl].asString();
    const size_t at = url.find('@');
    const size_t colon = url.rfind(':');
    if (at == std::string::npos || colon == std::string::npos || at < 1 || colon < 1 || colon <= at)
        return;
    const std::string ftpIp = url.substr(at + 1, colon - at - 1);
    LOGOUT("%s ftp ip: %s, peer ip: %s", peerText_.c_str(), ftpIp.c_str(), peerText_.c_str());
    if (ftpIp != peerText_) {
        LOGOUT("%s CLIENT IN NAT!!!", peerText_.c_str());
        Json::Value caps(Json::objectValue);
        caps[f::clientFtpSupported] = false;
        caps[f::what] = 0;
        server_.send(protocol::MsgCapabilities, caps, nullptr, 0, socket_);
    }
}

void ClientSession::sendThread() {
    // Frames are written straight from their shared buffers with gathered
    // sends, so a broadcast frame is never copied per session.
    std::vector<Frame> batch;
    std::vector<ConstBuffer> buffers;
    while (!closeFlag_.load() && !stopFlag_.load()) {
        {
            std::unique_lock<std::mutex> lock(queueMutex_);
            if (sendQueue_.empty()) {
                sendSignal_.wait_for(lock, std::chrono::milliseconds(kSendWaitMillis));
                if (sendQueue_.empty()) continue;
            }
            size_t gathered = 0;
            while (!sendQueue_.empty() && gathered <= kGatherLimit) {
                Frame& frame = sendQueue_.front();
                gathered += frame->size();
                queuedBytes_ -= frame->size();
                batch.push_back(std::move(frame));
                sendQueue_.pop_front();
            }
        }
        for (const Frame& frame : batch) buffers.push_back({frame->data(), frame->size()});
        int error = 0;
        long r = socketWriteGather(socket_, buffers.data(), buffers.size(), error);
        buffers.clear();
        batch.clear();
        if (r < 0) {
            closeFlag_.store(true);
            LOGOUT("%s TcpSend < 0 err: %d", peerText_.c_str(), error);
            break;
        }
    }
    LOGOUT("%s sendThread returned", peerText_.c_str());
}

}  // namespace net
