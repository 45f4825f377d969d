// The camera capture engine: lists the PC's video capture devices, sets one
// up at the best size it offers for the requested 1920 x 1080 and hands out
// its latest frame on request, as 24-bit pixels (blue, green, red) or as a
// 32-bit picture at the size a window shows. Frames that come faster than
// they are taken are dropped at the source, before any copy or conversion.
//
// Diagnostics go to standard output (printf), not to the program's log.
#pragma once

#include "platform/camera_device.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace camera {

// Device records and the name table cover indices 0 to 19.
inline constexpr int kMaxDevices = 20;
// Bytes of one name table entry: at most 253 bytes of name and a zero.
inline constexpr int kNameBytes = 255;
inline constexpr int kRequestedWidth = 1920;
inline constexpr int kRequestedHeight = 1080;
// How long GetPixels waits for a frame.
inline constexpr int kFrameWaitMs = 1000;

// The layouts tried at the requested size, in this order.
struct Subtype {
    const char* name;
    uint32_t layout;
};
extern const std::array<Subtype, 19> kSubtypes;

// The size a device's capabilities offer closest to width x height: an exact
// match wins at once, otherwise the smallest sum of the width and height
// differences (the first one on a tie). Capabilities with a step that is not
// positive, and layouts `usable` refuses, are passed over. False when none is left.
bool closestSize(const std::vector<platform::CameraSizeRange>& caps, int width, int height,
                 bool (*usable)(uint32_t), platform::CameraFormat& best);

class CameraEngine {
public:
    explicit CameraEngine(platform::CameraSystem& system);
    // Closes every device that is set up.
    ~CameraEngine();
    CameraEngine(const CameraEngine&) = delete;
    CameraEngine& operator=(const CameraEngine&) = delete;

    // Counts the capture devices (nodes that cannot capture are not counted)
    // and refreshes the name table.
    int enumerateCameras();
    // The name table entry (UTF-8, at most 253 bytes); "" beyond the table.
    std::string cameraName(int index);

    // Sets the device up at 1920 x 1080 or the best size it offers and starts
    // its frames. Refused for an index of 20 or more, one not below the
    // device count, or a device already set up.
    bool openCamera(int index);
    bool isSetUp(int index);
    // Frame size of a device that is set up; 0 otherwise.
    int width(int index);
    int height(int index);

    // True when a frame arrived since the last GetPixels.
    bool hasNewFrame(int index);
    // Copies the latest frame (width x height pixels of 3 bytes, blue, green,
    // red) into `dst`, waiting up to a second for one. The frame is kept
    // bottom-up, as 24-bit bitmaps are: `flip` gives it top-down; `swapRB`
    // exchanges the first and third byte of every pixel. False when no frame came.
    bool GetPixels(int index, uint8_t* dst, bool swapRB, bool flip);
    // The latest frame as a top-down picture of width x height (at least 1,
    // no larger than the frame) 32-bit pixels (blue, green, red, opaque
    // alpha), rows `stride` bytes apart, made straight from what the device
    // delivered: the window's path, without the full-size 24-bit picture.
    // Waits and takes the frame as GetPixels does.
    bool GetPicture(int index, uint8_t* dst, int width, int height, int stride);
    // Stops the device; its record is replaced by a fresh, idle one.
    void closeCamera(int index);

private:
    struct Device;
    std::shared_ptr<Device> device(int index);
    bool setUp(Device& d, int index);
    // Waits up to a second for a frame of the device, runs `convert` on it
    // and marks it taken.
    bool takeFrame(int index, const std::function<bool(Device&)>& convert);

    platform::CameraSystem& system_;
    std::mutex mutex_;
    std::vector<std::string> ids_;  // capture nodes of the last enumeration
    std::array<std::array<char, kNameBytes>, kMaxDevices> names_{};
    std::array<std::shared_ptr<Device>, kMaxDevices> devices_;
};

}  // namespace camera
