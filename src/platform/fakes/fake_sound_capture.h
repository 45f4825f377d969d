// Test double for the sound server: a fixed list of sources and named
// devices; opened streams hand out whatever the test pushes into them.
#pragma once

#include "platform/sound_capture.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace platform {

class FakeSoundStream : public SoundStream {
public:
    FakeSoundStream(SoundFormat format, int bufferFrames) : format_(format), bufferFrames_(bufferFrames) {}

    SoundFormat format() const override { return format_; }
    int bufferFrames() const override { return bufferFrames_; }
    bool start() override {
        std::lock_guard<std::mutex> lock(mutex_);
        started_ = true;
        return true;
    }
    void stop() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            started_ = false;
        }
        changed_.notify_all();
    }
    bool wait(size_t minBytes, int timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return !started_ || bytes_.size() >= minBytes; });
        return started_;
    }
    size_t read(void* dest, size_t max) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t n = std::min(max, bytes_.size());
        std::copy_n(bytes_.begin(), n, static_cast<uint8_t*>(dest));
        bytes_.erase(bytes_.begin(), bytes_.begin() + long(n));
        return n;
    }
    uint64_t dropped() const override { return 0; }

    // What the "device" captured.
    void push(const void* data, size_t n) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto* p = static_cast<const uint8_t*>(data);
            bytes_.insert(bytes_.end(), p, p + n);
        }
        changed_.notify_all();
    }

private:
    SoundFormat format_;
    int bufferFrames_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<uint8_t> bytes_;
    bool started_ = false;
};

class FakeSoundCapture : public SoundCapture {
public:
    bool serverRunning() override { return running; }
    std::vector<CaptureSourceInfo> captureSources() override { return sources; }
    std::string loopbackSource() override { return loopback; }
    std::vector<std::string> namedDevices() override { return named; }

    std::unique_ptr<SoundStream> openSource(const std::string& name, const SoundFormat& format) override {
        for (const auto& s : sources)
            if (s.name == name) return keep(std::make_unique<FakeSoundStream>(format, 4096));
        return nullptr;
    }
    std::unique_ptr<SoundStream> openLoopback(int bufferMs) override {
        if (loopback.empty()) return nullptr;
        return keep(std::make_unique<FakeSoundStream>(loopbackFormat,
                                                      loopbackFormat.sampleRate * bufferMs / 1000));
    }
    std::unique_ptr<SoundStream> openNamed(const std::string& displayName, const SoundFormat&) override {
        for (const auto& n : named)
            if (n == displayName) return keep(std::make_unique<FakeSoundStream>(namedFormat, 1024));
        return nullptr;
    }

    bool running = true;
    std::vector<CaptureSourceInfo> sources;
    std::string loopback;
    std::vector<std::string> named;
    SoundFormat loopbackFormat{2, 48000, 32, true};
    SoundFormat namedFormat{1, 16000, 16, false};
    // The last stream opened (owned by whoever opened it).
    FakeSoundStream* last = nullptr;

private:
    std::unique_ptr<SoundStream> keep(std::unique_ptr<FakeSoundStream> s) {
        last = s.get();
        return s;
    }
};

}  // namespace platform
