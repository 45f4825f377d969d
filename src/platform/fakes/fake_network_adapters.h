// Test double: a fixed list of adapter addresses.
#pragma once

#include "platform/network_adapters.h"
#include "platform/screen_info.h"

#include <mutex>

namespace platform {

class FakeNetworkAdapters : public NetworkAdapters {
public:
    explicit FakeNetworkAdapters(std::vector<uint32_t> addresses = {}) : addresses_(std::move(addresses)) {}
    std::vector<uint32_t> localIPv4() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return addresses_;
    }
    void set(std::vector<uint32_t> addresses) {
        std::lock_guard<std::mutex> lock(mutex_);
        addresses_ = std::move(addresses);
    }

private:
    std::mutex mutex_;
    std::vector<uint32_t> addresses_;
};

class FakeScreenInfo : public ScreenInfo {
public:
    explicit FakeScreenInfo(int w = 1920, int h = 1080) : size_{w, h} {}
    ScreenSize primaryScreenSize() override { return size_; }
    ScreenSize size_;
};

}  // namespace platform
