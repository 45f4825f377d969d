// Cameras without hardware: devices that play a generated picture or the
// frames of a video file, offered in a given list of layouts and sizes. Tests
// use them to drive the camera engine and window; the program offers a video
// file as a demonstration camera when LUMACRO3_DEMO_CAMERA_FILE names one.
#pragma once

#include "platform/camera_device.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// Environment variable naming a video file shown as a camera (demonstrations).
inline constexpr const char kDemoCameraVariable[] = "LUMACRO3_DEMO_CAMERA_FILE";
// The name that camera is listed under.
inline constexpr const char kDemoCameraName[] = "Demo camera (video file)";

struct FakeCameraConfig {
    std::string name = "Fake camera";
    bool canCapture = true;
    // What the device offers; setFormat takes only sizes inside these.
    std::vector<CameraSizeRange> sizes;
    // The format before anything is set; the first offered size when empty.
    CameraFormat initial;
    // Frames of this file (looped), else the generated pattern.
    std::string videoFile;
    int framesPerSecond = 30;
    // Extra bytes at the end of every row of the first plane (the other
    // planes in proportion), as some drivers pad their rows.
    int padding = 0;
    // Opens and negotiates but delivers no frame.
    bool silent = false;
    // Fails every frame request at once, as an unplugged device does.
    bool broken = false;
    bool openFails = false;
};

// What a test can watch of one fake device (shared with the device objects).
struct FakeCameraState {
    std::atomic<int> opens{0};
    std::atomic<int> open{0};       // devices open now
    std::atomic<int> frames{0};     // frames delivered
    std::atomic<int> requests{0};   // frame requests (nextFrame calls)
    std::mutex mutex;
    CameraFormat format;            // set now (guarded by mutex)
    std::vector<CameraFormat> tried;  // every setFormat call in order (guarded by mutex)
};

// The generated picture: four quadrants, top-left red, top-right green,
// bottom-left blue, bottom-right white.
inline constexpr uint32_t kPatternTopLeft = 0xFF0000, kPatternTopRight = 0x00FF00,
                          kPatternBottomLeft = 0x0000FF, kPatternBottomRight = 0xFFFFFF;

class FakeCameraSystem : public CameraSystem {
public:
    // Adds a device; the returned state lives as long as the system.
    FakeCameraState& add(FakeCameraConfig config);

    std::vector<CameraNode> nodes() override;
    std::unique_ptr<CameraDevice> open(const std::string& id) override;

private:
    struct Entry {
        FakeCameraConfig config;
        std::shared_ptr<FakeCameraState> state;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

// A sizes entry for one exact size.
inline CameraSizeRange fixedSize(uint32_t layout, int width, int height) {
    return {layout, width, width, 1, height, height, 1};
}

// The size of the first video stream of a file; false when it has none.
bool videoFileSize(const std::string& path, int& width, int& height);

// The demonstration camera for `path` (planar 4:2:0 at the file's own size),
// or null when the file has no video.
std::unique_ptr<CameraSystem> makeDemoCameraSystem(const std::string& path);

// The devices of several systems, in order, as one system.
std::unique_ptr<CameraSystem> joinCameraSystems(std::vector<std::unique_ptr<CameraSystem>> systems);

}  // namespace platform
