// The captured sound a stream holds for its owner: a bounded queue of whole
// frames that the capture side appends to and the owner waits on and reads.
#pragma once

#include "support/logger.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace platform {

class CapturedSound {
public:
    // capacity is in bytes; frameBytes is the size of one frame of every channel.
    void setFormat(size_t frameBytes, size_t capacity) {
        std::lock_guard<std::mutex> lock(mutex_);
        frameBytes_ = std::max<size_t>(frameBytes, 1);
        capacity_ = capacity;
    }

    // Starts taking sound, with nothing queued; false once the stream failed.
    bool open() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_) return false;
        open_ = true;
        bytes_.clear();
        return true;
    }

    void close() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            open_ = false;
        }
        changed_.notify_all();
    }

    void fail() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            failed_ = true;
        }
        changed_.notify_all();
    }

    // Keeps the newest sound when the owner falls behind: the oldest whole
    // frames go first.
    void append(const uint8_t* data, size_t n) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!open_) return;
            bytes_.insert(bytes_.end(), data, data + n);
            if (bytes_.size() > capacity_) {
                size_t excess = bytes_.size() - capacity_;
                excess += (frameBytes_ - excess % frameBytes_) % frameBytes_;
                excess = std::min(excess, bytes_.size());
                bytes_.erase(bytes_.begin(), bytes_.begin() + long(excess));
                if (dropped_ == 0) LOGOUT("sound capture: owner falls behind, dropping old sound");
                dropped_ += excess;
            }
        }
        changed_.notify_all();
    }

    // Waits until minBytes are queued, the stream ends or fails, or the time
    // is up; false when the stream ended or failed.
    bool wait(size_t minBytes, int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return failed_ || !open_ || bytes_.size() >= minBytes; });
        return !failed_ && open_;
    }

    // Whole frames only, up to max bytes.
    size_t read(void* dest, size_t max) {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t n = std::min(max, bytes_.size());
        n -= n % frameBytes_;
        std::copy_n(bytes_.begin(), n, static_cast<uint8_t*>(dest));
        bytes_.erase(bytes_.begin(), bytes_.begin() + long(n));
        return n;
    }

    uint64_t dropped() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return dropped_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<uint8_t> bytes_;
    size_t frameBytes_ = 4;
    size_t capacity_ = 0;
    bool open_ = false;
    bool failed_ = false;
    uint64_t dropped_ = 0;
};

}  // namespace platform
