// Video capture devices (cameras): the device nodes of the system, their
// pixel layouts and frame sizes, and a stream of frames from one of them.
// Pixel layouts are four-character codes as V4L2 spells them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

// The layouts the camera code knows by name.
namespace pixel {
inline constexpr uint32_t BGR24 = fourcc('B', 'G', 'R', '3');   // blue, green, red
inline constexpr uint32_t RGB24 = fourcc('R', 'G', 'B', '3');   // red, green, blue
inline constexpr uint32_t BGR32 = fourcc('B', 'G', 'R', '4');   // blue, green, red, unused
inline constexpr uint32_t RGB555 = fourcc('R', 'G', 'B', 'O');  // little-endian 5-5-5
inline constexpr uint32_t RGB565 = fourcc('R', 'G', 'B', 'P');  // little-endian 5-6-5
inline constexpr uint32_t YUYV = fourcc('Y', 'U', 'Y', 'V');
inline constexpr uint32_t YVYU = fourcc('Y', 'V', 'Y', 'U');
inline constexpr uint32_t UYVY = fourcc('U', 'Y', 'V', 'Y');
inline constexpr uint32_t YUV420 = fourcc('Y', 'U', '1', '2');  // planar 4:2:0, U before V
inline constexpr uint32_t YVU420 = fourcc('Y', 'V', '1', '2');  // planar 4:2:0, V before U
inline constexpr uint32_t YVU410 = fourcc('Y', 'V', 'U', '9');
inline constexpr uint32_t Y41P = fourcc('Y', '4', '1', 'P');
inline constexpr uint32_t Y411 = fourcc('4', '1', '1', 'P');
inline constexpr uint32_t AYUV = fourcc('A', 'Y', 'U', 'V');
inline constexpr uint32_t GREY = fourcc('G', 'R', 'E', 'Y');
inline constexpr uint32_t MJPEG = fourcc('M', 'J', 'P', 'G');
inline constexpr uint32_t H264 = fourcc('H', '2', '6', '4');
}  // namespace pixel

// "YUYV" for the code, for diagnostics.
inline std::string fourccText(uint32_t code) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (8 * i)) & 0xFF);
        text += c >= 32 && c < 127 ? c : '?';
    }
    return text;
}

// One device node as the system lists it.
struct CameraNode {
    std::string id;    // how open() finds it again (a device path)
    std::string name;  // shown to people (UTF-8)
    bool canCapture = false;  // delivers video frames (metadata and output nodes do not)
};

// Frame sizes a device offers in one layout: widths from minWidth to
// maxWidth in steps of stepWidth, heights likewise. A single size has
// min == max and step 1.
struct CameraSizeRange {
    uint32_t pixelFormat = 0;
    int minWidth = 0, maxWidth = 0, stepWidth = 0;
    int minHeight = 0, maxHeight = 0, stepHeight = 0;
};

struct CameraFormat {
    uint32_t pixelFormat = 0;
    int width = 0;
    int height = 0;
    // Bytes from one row of the first plane to the next, when the device
    // pads its rows (further planes are padded in proportion); 0 when not.
    int bytesPerLine = 0;
};

inline bool operator==(const CameraFormat& a, const CameraFormat& b) {
    return a.pixelFormat == b.pixelFormat && a.width == b.width && a.height == b.height;
}

// One frame as a device hands it over, valid during the hand-over only.
// Either one buffer in the set layout and size (as V4L2's memory-mapped
// buffers are), or, for a raw layout a device keeps in separate planes, the
// planes themselves (U before V, rows `lines[i]` bytes apart); then `data`
// and `length` are unused.
struct CameraFrame {
    const uint8_t* data = nullptr;
    size_t length = 0;
    const uint8_t* planes[4] = {};
    int lines[4] = {};
};

// One opened device. Calls come from one thread at a time: set-up on the
// thread that opened it, frames on the engine's stream thread.
class CameraDevice {
public:
    virtual ~CameraDevice() = default;
    virtual std::vector<CameraSizeRange> capabilities() = 0;
    // The format the device is set to now.
    virtual CameraFormat format() = 0;
    // Sets exactly this layout and size. False, with the format left as it
    // was, when the device refuses it or would deliver anything else.
    virtual bool setFormat(const CameraFormat& format) = 0;
    virtual bool start() = 0;
    // Waits up to `timeoutMs` for the next frame and hands it to `sink`
    // (valid during the call only). False on time-out or failure.
    virtual bool nextFrame(int timeoutMs, const std::function<void(const CameraFrame&)>& sink) = 0;
    virtual void stop() = 0;
};

class CameraSystem {
public:
    virtual ~CameraSystem() = default;
    // Every video device node, in a stable order.
    virtual std::vector<CameraNode> nodes() = 0;
    // Null when the node cannot be opened.
    virtual std::unique_ptr<CameraDevice> open(const std::string& id) = 0;
};

// V4L2: /dev/video* nodes in number order, memory-mapped streaming.
std::unique_ptr<CameraSystem> makeV4l2CameraSystem();

}  // namespace platform
