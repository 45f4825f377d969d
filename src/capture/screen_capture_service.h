// One up-to-date BGRA picture of the primary display, shared by the consumers
// that registered with a frame rate (the screen encoder and the lesson
// recorder). The service captures only while it has consumers; each consumer
// reads the shared frame under the frame lock whenever it wants a picture.
#pragma once

#include "platform/cursor_control.h"
#include "support/my_mutex.h"
#include "support/thread_pool.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <thread>

namespace platform {
class ScreenGrabber;
}

namespace capture {

// Read access to the shared frame; holds the frame lock while it lives.
// `data` is null when the service is stopped.
class FrameAccess {
public:
    explicit FrameAccess(support::MyMutex& lock, const uint8_t* data, int stride, int width,
                         int height)
        : lock_(lock), data_(data), stride_(stride), width_(width), height_(height) {
        lock_.lock();
    }
    ~FrameAccess() { lock_.unlock(); }
    FrameAccess(const FrameAccess&) = delete;
    FrameAccess& operator=(const FrameAccess&) = delete;

    const uint8_t* data() const { return data_; }
    int stride() const { return stride_; }
    int width() const { return width_; }
    int height() const { return height_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    support::MyMutex& lock_;
    const uint8_t* data_;
    int stride_;
    int width_;
    int height_;
};

class ScreenCaptureService {
public:
    // `grabber` is the capture source (X11 in the program, a fake in tests);
    // `cursor` and `pool` serve the cursor nudge of start() and may be null.
    ScreenCaptureService(std::unique_ptr<platform::ScreenGrabber> grabber,
                         platform::CursorControl* cursor, support::ThreadPool* pool);
    ~ScreenCaptureService();
    ScreenCaptureService(const ScreenCaptureService&) = delete;
    ScreenCaptureService& operator=(const ScreenCaptureService&) = delete;

    // Registers a consumer at `rate` frames per second; starts capturing for
    // the first. Returns the consumer's token.
    int64_t start(float rate);
    // Unregisters one consumer; stops capturing after the last.
    void stop(int64_t token);

    // Frame size, 0 while stopped.
    int width();
    int height();
    float captureRate();
    uint32_t consumerCount();

    // Locks the frame for one read; see FrameAccess.
    FrameAccess lockFrame();

    // Set by the recorder while it records: paint the mouse cursor into frames.
    std::atomic<bool> drawCursor{false};

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace capture
