#include "net/client_session.h"

#include "net/session_server.h"
#include "net/socket_io.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/logger.h"
#include "support/strings.h"

#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace net {

namespace f = protocol::field;

namespace {

// A class name from the network as a log line may show it: control bytes
// escaped, long names cut.
std::string printableName(const std::string& name) {
    return support::printableText(name, 120);
}

}  // namespace

ClientSession::ClientSession(SessionServer& server, int socket, const sockaddr_in& peer, uint64_t id)
    : server_(server), socket_(socket), id_(id), peer_(peer),
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
    // Until the phone is let in, only small frames are taken: an unknown or
    // unapproved peer cannot make the PC hold large buffers.
    reader.setFrameLimit(SessionServer::kPreHandshakeFrameLimit);
    bool fullFrames = false;
    DecodedMessage decoded;
    while (!closeFlag_.load() && !stopFlag_.load()) {
        if (!fullFrames && access_.load() == Access::Ready) {
            reader.setFrameLimit(kMaxTotalLength - 1);
            fullFrames = true;
        }
        ReadStatus status = reader.next(decoded);
        if (status == ReadStatus::End) {
            closeFlag_.store(true);
            break;
        }
        if (status == ReadStatus::Dropped) continue;
        if (decoded.className == protocol::MsgClientInfo) {
            if (handshake(decoded.message) == Handshake::Refused) break;
            continue;
        }
        // Real phones always identify themselves first; anything else must
        // not reach the PC's input, files or recorder.
        if (access_.load() != Access::Ready) {
            dropBeforeReady(decoded.className);
            continue;
        }
        server_.report(socket_, &peer_, decoded.className, decoded.message, decoded.data,
                       decoded.dataLength, kMessage);
    }
    LOGOUT("%s recvThread returned", peerText_.c_str());
}

void ClientSession::dropBeforeReady(const std::string& className) {
    if (droppedBeforeReady_ >= kDropLogLimit) return;
    ++droppedBeforeReady_;
    const Access state = access_.load();
    const char* why = state == Access::Connected ? "no accepted MsgClientInfo yet"
                                                 : "the phone waits for the teacher's approval";
    LOGOUT("%s %s dropped: %s%s", peerText_.c_str(), printableName(className).c_str(), why,
           droppedBeforeReady_ == kDropLogLimit ? " (further drops are not logged)" : "");
}

// Refused: the receive thread must end. Dropped: a field had the wrong type,
// or the phone already waits for approval.
ClientSession::Handshake ClientSession::handshake(const Json::Value& message) {
    ClientInfo info;
    try {
        if (message.isMember(f::mac)) info.id = message[f::mac].asString();
        if (message.isMember(f::uniqueId)) info.id = message[f::uniqueId].asString();
        if (message.isMember(f::admin)) info.wantsAdmin = message[f::admin].asBool();
        if ((info.hasTag = message.isMember(f::tag))) info.tag = message[f::tag].asString();
        if ((info.hasWidth = message.isMember(f::width))) info.width = message[f::width].asInt();
        if ((info.hasHeight = message.isMember(f::height))) info.height = message[f::height].asInt();
    } catch (const std::exception& e) {
        LOGOUT("%s %s dropped: %s", peerText_.c_str(), protocol::MsgClientInfo, e.what());
        return Handshake::Dropped;
    }
    info.message = message;

    const Access state = access_.load();
    if (state == Access::Held || state == Access::Allowed) {
        // A second handshake cannot change what the teacher is asked about.
        LOGOUT("%s %s dropped: the phone waits for the teacher's approval", peerText_.c_str(),
               protocol::MsgClientInfo);
        return Handshake::Dropped;
    }
    // A phone that was let in may shake hands again without being asked about.
    core::PhoneAdmission* admission = server_.admission();
    if (state == Access::Connected && admission) {
        core::PhoneEntry entry;
        entry.id = id_;
        entry.socket = socket_;
        entry.address = peer_.sin_addr.s_addr;
        entry.admin = info.wantsAdmin;
        entry.identity = info.id;
        entry.tag = info.tag;
        if (admission->needsApproval(entry)) {
            {
                std::lock_guard<support::MyMutex> lock(server_.lock_);
                pending_ = std::move(info);
                tag = pending_.tag;
                access_.store(Access::Held);
            }
            LOGOUT("%s held until the teacher allows it", peerText_.c_str());
            entry.held = true;
            admission->requestApproval(entry);
            return Handshake::Held;
        }
    }

    if (!admit(info)) return Handshake::Refused;
    natCheck(message);
    // Ready before the event: what the ready event makes the PC send to every
    // phone (the tools' states) must reach this one too.
    access_.store(Access::Ready);
    server_.report(socket_, &peer_, std::string(), Json::Value(), nullptr, 0, kClientReady);
    return Handshake::Accepted;
}

bool ClientSession::admit(const ClientInfo& info) {
    std::lock_guard<support::MyMutex> lock(server_.lock_);
    if (info.wantsAdmin) {
        for (const auto& other : server_.sessions_) {
            if (other.get() != this && other->admin && other->identified()) {
                closeFlag_.store(true);
                LOGOUT("%s refused: another admin phone is connected", peerText_.c_str());
                return false;
            }
        }
        if (info.hasTag) server_.controllerTag_ = info.tag;
        if (info.hasWidth) server_.controllerWidth_ = info.width;
        if (info.hasHeight) server_.controllerHeight_ = info.height;
        admin = true;
    }
    uniqueId = info.id;
    tag = info.tag;
    return true;
}

bool ClientSession::allowHeld() {
    Access expected = Access::Held;
    return !closing() && access_.compare_exchange_strong(expected, Access::Allowed);
}

void ClientSession::completeAllowed() {
    ClientInfo info;
    {
        std::lock_guard<support::MyMutex> lock(server_.lock_);
        if (access_.load() != Access::Allowed) return;
        info = pending_;
    }
    if (!admit(info)) return;
    natCheck(info.message);
    access_.store(Access::Ready);
    server_.report(socket_, &peer_, std::string(), Json::Value(), nullptr, 0, kClientReady);
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
