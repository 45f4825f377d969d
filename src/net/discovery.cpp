// The UDP side of the session server: discovery ("hello") and the two
// record datagrams.
#include "net/session_server.h"

#include "protocol/constants.h"
#include "protocol/message_names.h"
#include "support/logger.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net {

namespace {

bool equalsText(const char* text, size_t length, const char* command) {
    return length == std::strlen(command) && std::memcmp(text, command, length) == 0;
}

}  // namespace

void SessionServer::udpThread() {
    char buffer[protocol::kMaxDatagram + 1];
    while (!stop_.load() && !halt_.load()) {
        if (!waitReadable(udpSocket_, 500)) continue;
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t r = ::recvfrom(udpSocket_, buffer, protocol::kMaxDatagram, 0,
                               reinterpret_cast<sockaddr*>(&from), &length);
        if (r < 1) continue;
        buffer[r] = '\0';
        handleDatagram(buffer, size_t(r), from);
    }
    ::close(udpSocket_);
    udpSocket_ = -1;
}

void SessionServer::handleDatagram(const char* text, size_t length, const sockaddr_in& from) {
    if (equalsText(text, length, protocol::kHello)) {
        if (anyAdmin()) return;
        Json::Value info;
        buildServerInfo(info);
        Frame frame = encodeFrame(protocol::MsgServerInfo, info, nullptr, 0);
        sendDatagram(frame->data(), frame->size(), from);
    } else if (equalsText(text, length, protocol::kStartRecord)) {
        if (RecordControl* recorder = recorder_.load()) recorder->startDefault();
        sendDatagram(protocol::kRecorderStarted, std::strlen(protocol::kRecorderStarted), from);
    } else if (equalsText(text, length, protocol::kStopRecord)) {
        if (RecordControl* recorder = recorder_.load()) recorder->stop();
        sendDatagram(protocol::kRecorderStopped, std::strlen(protocol::kRecorderStopped), from);
    }
}

void SessionServer::sendDatagram(const void* data, size_t length, const sockaddr_in& to) {
    if (udpSocket_ <= 0) return;
    for (int attempt = 0; attempt < 100; ++attempt) {
        pollfd pfd{udpSocket_, POLLOUT, 0};
        if (::poll(&pfd, 1, 100) < 0 && errno != EINTR) return;
        ssize_t r = ::sendto(udpSocket_, data, length, MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (r >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return;
    }
}

}  // namespace net
