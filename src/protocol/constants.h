// Fixed ports, versions and URL formats of the phone protocol.
#pragma once

#include <cstdint>

namespace protocol {

inline constexpr uint16_t kSessionPort = 49873;    // TCP, phone sessions
inline constexpr uint16_t kDiscoveryPort = 49872;  // UDP, "hello" and record commands
inline constexpr uint16_t kLiveStreamPort = 37374; // TCP, live screen stream service
inline constexpr uint16_t kSlideBridgePort = 16162;
inline constexpr uint16_t kFtpPort = 17171;
inline constexpr uint16_t kHttpPort = 27272;

inline constexpr int kVersionCode = 20161207;
inline constexpr const char kVersionName[] = "3.2.2";
inline constexpr const char kPlatform[] = "pc";

inline constexpr const char kFtpUser[] = "ftpd";
inline constexpr const char kFtpPassword[] = "Nq4vT8wa";
inline constexpr const char kFtpUrlFormat[] = "ftp://ftpd:Nq4vT8wa@%s:%d/";
inline constexpr const char kHttpUrlFormat[] = "http://%s:%d/";

// Discovery and remote record datagrams.
inline constexpr const char kHello[] = "hello";
inline constexpr const char kStartRecord[] = "start-record";
inline constexpr const char kStopRecord[] = "stop-record";
inline constexpr const char kRecorderStarted[] = "recorder-started";
inline constexpr const char kRecorderStopped[] = "recorder-stoped";  // spelled so on the wire
inline constexpr int kMaxDatagram = 2048;

}  // namespace protocol
