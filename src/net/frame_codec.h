// The frame that carries every message: totalLength and headLength (both
// 32-bit little-endian), a JSON head {"className","msgJson"} and a binary tail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <json/value.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace net {

// An encoded frame: immutable bytes with shared ownership, so one frame can sit
// in the send queues of several sessions at once.
using Frame = std::shared_ptr<const std::vector<uint8_t>>;

// totalLength must be at least 4 and below this; 0 is the keep-alive frame.
inline constexpr uint32_t kMaxTotalLength = 0x1000000;
inline constexpr uint32_t kMinTotalLength = 4;

// Encodes one frame. The message object is copied and its "dataLength" is set
// to `dataLength`; `data` may be null when `dataLength` is 0.
Frame encodeFrame(std::string_view className, const Json::Value& message,
                  const void* data, size_t dataLength);
// The start of a frame (length fields and head) that `dataLength` tail bytes
// complete, for a sender that writes the tail from where it lies.
std::vector<uint8_t> encodeFrameHead(std::string_view className, const Json::Value& message,
                                     size_t dataLength);
// Number of frames encodeFrame and encodeFrameHead have produced in this process (for measurements).
uint64_t encodedFrameCount();
// The shared keep-alive frame (four zero bytes).
Frame keepAliveFrame();

inline uint32_t readLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void writeLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

inline bool isValidTotalLength(uint64_t totalLength) {
    return totalLength >= kMinTotalLength && totalLength < kMaxTotalLength;
}
// True when the encoded frame fits the receivers' limit.
inline bool isSendable(const Frame& frame) {
    return frame && frame->size() >= 4 && isValidTotalLength(frame->size() - 4);
}

// One decoded message. `data` points into the buffer that was parsed and is
// valid only as long as that buffer.
struct DecodedMessage {
    std::string className;
    Json::Value message;
    const uint8_t* data = nullptr;
    size_t dataLength = 0;
};

enum class DecodeResult {
    Ok,
    BadHeadLength,    // headLength runs past the frame: the session ends
    HeadNotJson,      // the head is not a JSON object: the session ends
    BadMessage,       // className/msgJson missing or msgJson not a JSON object: frame dropped
};

// Decodes the body of a frame: the `totalLength` bytes that follow the length
// field (headLength, head, tail).
DecodeResult decodeFrameBody(const uint8_t* body, size_t totalLength, DecodedMessage& out);

}  // namespace net
