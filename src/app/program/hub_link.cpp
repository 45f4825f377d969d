#include "app/program/hub_link.h"

#include "core/window_messages.h"
#include "support/files.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace app {

std::string hubSocketPath() {
    const std::string dir = support::runtimeDir();
    return dir.empty() ? std::string() : dir + "/Lumacro3.hub";
}

void encodeHubRecord(const HubRecord& record, uint8_t out[kHubRecordSize]) {
    uint64_t w = static_cast<uint64_t>(record.wParam);
    uint64_t l = static_cast<uint64_t>(record.lParam);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(record.message >> (8 * i));
    for (int i = 0; i < 8; ++i) out[4 + i] = static_cast<uint8_t>(w >> (8 * i));
    for (int i = 0; i < 8; ++i) out[12 + i] = static_cast<uint8_t>(l >> (8 * i));
}

HubRecord decodeHubRecord(const uint8_t in[kHubRecordSize]) {
    HubRecord r;
    uint64_t w = 0, l = 0;
    for (int i = 0; i < 4; ++i) r.message |= static_cast<uint32_t>(in[i]) << (8 * i);
    for (int i = 0; i < 8; ++i) w |= static_cast<uint64_t>(in[4 + i]) << (8 * i);
    for (int i = 0; i < 8; ++i) l |= static_cast<uint64_t>(in[12 + i]) << (8 * i);
    r.wParam = static_cast<int64_t>(w);
    r.lParam = static_cast<int64_t>(l);
    return r;
}

bool postToRunningInstance(uint32_t message, int64_t wParam, int64_t lParam,
                           const std::string& socketPath) {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        uint8_t record[kHubRecordSize];
        encodeHubRecord({message, wParam, lParam}, record);
        ok = ::send(fd, record, sizeof record, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof record);
    }
    ::close(fd);
    return ok;
}

bool isHubSocketMessage(uint32_t message) {
    return message == core::UM_QUIT || message == core::UM_SHOW_CONNECT ||
           message == core::UM_ENCODER_CLOSE || message == core::UM_RECORD_STOP;
}

}  // namespace app
