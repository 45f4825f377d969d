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
#include <deque>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace platform {
class ScreenGrabber;
}

namespace capture {

// Rows [begin, end) of the frame.
struct RowSpan {
    int begin = 0, end = 0;
};

// Which rows of the shared frame the last pictures changed, so that a
// consumer converts only those. Each picture that changed anything gets the
// next serial number; serials grow for the life of the service.
class FrameChanges {
public:
    // The serial of the picture in the frame (0 before the first).
    uint64_t serial() const { return serial_; }
    // The rows that changed after picture `since`, merged and sorted. False
    // when that is not known (too far back, or from an earlier run): then
    // every row counts as changed.
    bool rowsSince(uint64_t since, std::vector<RowSpan>& rows) const;
    // A new picture whose changes are `rows`.
    void record(const std::vector<RowSpan>& rows);
    // A new run: no earlier serial is known any more.
    void reset() { log_.clear(); }

    static constexpr size_t kKept = 64;

private:
    struct Entry {
        uint64_t serial;
        std::vector<RowSpan> rows;
    };
    uint64_t serial_ = 0;
    std::deque<Entry> log_;
};

// Read access to the shared frame; holds the frame lock while it lives.
// `data` is null when the service is stopped.
class FrameAccess {
public:
    explicit FrameAccess(support::MyMutex& lock, const uint8_t* data, int stride, int width,
                         int height, const FrameChanges* changes = nullptr)
        : lock_(lock), data_(data), stride_(stride), width_(width), height_(height),
          changes_(changes) {
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
    // Serial of the picture in the frame; see FrameChanges.
    uint64_t serial() const { return changes_ ? changes_->serial() : 0; }
    // Rows changed after picture `since`; false: take every row.
    bool rowsSince(uint64_t since, std::vector<RowSpan>& rows) const {
        return changes_ && changes_->rowsSince(since, rows);
    }

private:
    support::MyMutex& lock_;
    const uint8_t* data_;
    int stride_;
    int width_;
    int height_;
    const FrameChanges* changes_;
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
    // Serial of the picture in the frame, without the lock.
    uint64_t frameSerial();
    // Waits up to `timeoutMs` for a picture newer than `serial`; true when
    // there is one.
    bool waitForFrame(uint64_t serial, int timeoutMs);
    // Whether the source grabs only what changed (X DAMAGE); valid while running.
    bool tracksChanges();
    // Grabs taken from the source since the service was made.
    uint64_t grabCount();

    // Set by the recorder while it records: paint the mouse cursor into frames.
    std::atomic<bool> drawCursor{false};

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace capture
