// Test doubles for the capture source and the pointer.
#pragma once

#include "platform/screen_grabber.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

// A grabber of a fixed size whose pictures are filled with one BGRA colour
// that changes with every capture (blue byte = capture count), unless
// `fixedColour` is set; with `noise` every picture is new random pixels
// (pictures that compress badly, for queue tests). With `tracking` set the
// grabber reports only the areas given to change(), and grabs (counts a
// capture) only when there are some.
class FakeScreenGrabber : public ScreenGrabber {
public:
    FakeScreenGrabber(int width, int height) : w_(width), h_(height) {}

    bool tracksChanges() override { return tracking; }
    bool waitForChanges(bool, int timeoutMs) override {
        if (!tracking) return true;
        std::unique_lock<std::mutex> lock(changeMutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return !pending_.empty(); });
    }
    bool captureChanges(bool drawCursor, std::vector<ScreenRect>& updated) override {
        if (!tracking) return ScreenGrabber::captureChanges(drawCursor, updated);
        updated.clear();
        {
            std::lock_guard<std::mutex> lock(changeMutex_);
            updated.swap(pending_);
        }
        if (updated.empty()) return true;
        return capture(drawCursor);
    }
    // When each capture happened.
    std::vector<std::chrono::steady_clock::time_point> captureTimes() {
        std::lock_guard<std::mutex> lock(changeMutex_);
        return captureTimes_;
    }
    // An area of the screen changes (tracking grabbers report it next).
    void change(ScreenRect area) {
        {
            std::lock_guard<std::mutex> lock(changeMutex_);
            pending_.push_back(area);
        }
        changed_.notify_all();
    }

    bool open() override {
        opens.fetch_add(1);
        isOpen = openResult;
        return openResult;
    }
    int width() override { return isOpen ? w_ : 0; }
    int height() override { return isOpen ? h_ : 0; }
    bool capture(bool drawCursor) override {
        {
            std::lock_guard<std::mutex> lock(changeMutex_);
            captureTimes_.push_back(std::chrono::steady_clock::now());
        }
        const int n = captures.fetch_add(1) + 1;
        lastDrawCursor.store(drawCursor);
        colour_ = fixedColour ? fixedColour : (0xff000000u | uint32_t(n & 0xff));
        return isOpen;
    }
    void copyTo(uint8_t* dst, int stride) override {
        if (noise) {
            for (int y = 0; y < h_; ++y) {
                uint32_t* row = reinterpret_cast<uint32_t*>(dst + size_t(y) * stride);
                for (int x = 0; x < w_; ++x) {
                    seed_ ^= seed_ << 13;
                    seed_ ^= seed_ >> 17;
                    seed_ ^= seed_ << 5;
                    row[x] = seed_;
                }
            }
            return;
        }
        for (int y = 0; y < h_; ++y) {
            uint32_t* row = reinterpret_cast<uint32_t*>(dst + size_t(y) * stride);
            for (int x = 0; x < w_; ++x) row[x] = colour_;
        }
    }
    void close() override {
        closes.fetch_add(1);
        isOpen = false;
    }

    bool openResult = true;
    bool tracking = false;
    bool noise = false;
    uint32_t fixedColour = 0;
    std::atomic<bool> isOpen{false};
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    std::atomic<int> captures{0};
    std::atomic<bool> lastDrawCursor{false};

private:
    int w_, h_;
    uint32_t colour_ = 0;
    uint32_t seed_ = 2463534242u;
    std::mutex changeMutex_;
    std::condition_variable changed_;
    std::vector<ScreenRect> pending_;
    std::vector<std::chrono::steady_clock::time_point> captureTimes_;
};

// A pointer that records every move.
class FakeCursorControl : public CursorControl {
public:
    bool cursorPosition(int& x, int& y) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!readable) return false;
        x = x_;
        y = y_;
        return true;
    }
    void moveCursorTo(int x, int y) override {
        std::lock_guard<std::mutex> lock(mutex_);
        x_ = x;
        y_ = y;
        moves_.emplace_back(x, y);
    }
    std::vector<std::pair<int, int>> moves() {
        std::lock_guard<std::mutex> lock(mutex_);
        return moves_;
    }
    void place(int x, int y) {
        std::lock_guard<std::mutex> lock(mutex_);
        x_ = x;
        y_ = y;
    }
    bool readable = true;

private:
    std::mutex mutex_;
    int x_ = 0, y_ = 0;
    std::vector<std::pair<int, int>> moves_;
};

}  // namespace platform
