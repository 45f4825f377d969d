// Test double: the levels asked for, in order.
#pragma once

#include "platform/volume_control.h"

#include <mutex>
#include <vector>

namespace platform {

class FakeVolumeControl : public VolumeControl {
public:
    void setMasterVolume(int percent) override {
        std::lock_guard<std::mutex> lock(mutex_);
        levels_.push_back(percent);
    }
    bool waitIdle(int) override { return true; }
    std::vector<int> levels() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return levels_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> levels_;
};

}  // namespace platform
