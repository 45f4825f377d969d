// The UDP side of the session server: discovery ("hello") and the two
// record datagrams, sent to the bound address or broadcast on its adapter.
// Replies always leave from the bound address.
#include "net/session_server.h"

#include "protocol/constants.h"
#include "protocol/message_names.h"
#include "support/logger.h"
#include "support/strings.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net {

namespace {

bool equalsText(const char* text, size_t length, const char* command) {
    return length == std::strlen(command) && std::memcmp(text, command, length) == 0;
}

}  // namespace

void SessionServer::openBroadcastSockets(uint32_t address) {
    // The unicast socket does not see broadcasts: Linux hands them only to
    // sockets bound to the wildcard or to the broadcast address itself. The
    // wildcard would also take datagrams meant for the PC's other addresses,
    // so each broadcast address of the bound adapter gets its own socket.
    const platform::AdapterDetails details = adapters_.detailsOf(address);
    boundInterface_ = details.interfaceIndex;
    if (details.broadcast == 0 || details.broadcast == address || details.interfaceIndex == 0) return;
    auto open = [](uint32_t bindAddress) {
        int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s < 0) return -1;
        int one = 1;
        // Several programs (or PCs' servers in tests) may listen to one broadcast address.
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        ::setsockopt(s, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = bindAddress;
        local.sin_port = htons(protocol::kDiscoveryPort);
        if (::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            LOGOUT("UDP bind on %s failed: %d, its broadcasts go unanswered",
                   support::ip2string(bindAddress).c_str(), errno);
            ::close(s);
            return -1;
        }
        return s;
    };
    subnetBroadcastSocket_ = open(details.broadcast);
    limitedBroadcastSocket_ = open(INADDR_BROADCAST);
}

bool SessionServer::receiveDatagram(int socket, char* buffer, size_t& length, sockaddr_in& from) {
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    iovec iov{buffer, size_t(protocol::kMaxDatagram)};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t r = ::recvmsg(socket, &msg, 0);
    if (r < 1) return false;
    length = size_t(r);
    if (boundInterface_ == 0) return true;  // adapter unknown: serve what the socket gets

    int arrivedOn = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            arrivedOn = info.ipi_ifindex;
        }
    }
    if (arrivedOn == boundInterface_) return true;
    // A program on this PC that sends to the bound address comes in over
    // loopback, from the bound address itself.
    return socket == udpSocket_ && from.sin_addr.s_addr == address_.load();
}

void SessionServer::udpThread() {
    char buffer[protocol::kMaxDatagram + 1];
    const int sockets[3] = {udpSocket_, subnetBroadcastSocket_, limitedBroadcastSocket_};
    pollfd pfd[4];
    nfds_t count = 0;
    for (int s : sockets)
        if (s >= 0) pfd[count++] = {s, POLLIN, 0};
    if (wakeFd_ >= 0) pfd[count++] = {wakeFd_, POLLIN, 0};
    while (!stop_.load() && !halt_.load()) {
        for (nfds_t i = 0; i < count; ++i) pfd[i].revents = 0;
        if (::poll(pfd, count, 500) <= 0) continue;
        for (nfds_t i = 0; i < count; ++i) {
            if (pfd[i].fd == wakeFd_ || !(pfd[i].revents & (POLLIN | POLLERR))) continue;
            sockaddr_in from{};
            size_t length = 0;
            if (!receiveDatagram(pfd[i].fd, buffer, length, from)) continue;
            buffer[length] = '\0';
            handleDatagram(buffer, length, from);
        }
    }
    for (int* s : {&udpSocket_, &subnetBroadcastSocket_, &limitedBroadcastSocket_}) {
        if (*s >= 0) ::close(*s);
        *s = -1;
    }
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
