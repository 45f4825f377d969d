// Test double: keeps every group of input records and follows the pointer the
// way the X11 backend places it (absolute records back to their pixel,
// relative ones added, kept on the screen).
#pragma once

#include "platform/fakes/fake_screen_grabber.h"
#include "platform/input_injector.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace platform {

class FakeInputInjector : public InputInjector {
public:
    using Group = std::vector<InputRecord>;

    explicit FakeInputInjector(int width = 1920, int height = 1080) : size_{width, height} {}

    size_t sendInput(const InputRecord* records, size_t count) override {
        std::lock_guard<std::mutex> lock(mutex_);
        groups_.emplace_back(records, records + count);
        for (size_t i = 0; i < count; ++i) follow(records[i]);
        return count;
    }
    ScreenSize screenSize() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return size_;
    }
    bool cursorPosition(int& x, int& y) override { return pointer_.cursorPosition(x, y); }
    void moveCursorTo(int x, int y) override { pointer_.moveCursorTo(x, y); }
    void setSystemPointerHidden(bool hidden) override {
        std::lock_guard<std::mutex> lock(mutex_);
        pointerHidden_ = hidden;
    }

    void setScreenSize(int width, int height) {
        std::lock_guard<std::mutex> lock(mutex_);
        size_ = {width, height};
    }
    // Each sendInput call as one group, in order.
    std::vector<Group> groups() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return groups_;
    }
    // Every record of every group, in order.
    Group records() const {
        std::lock_guard<std::mutex> lock(mutex_);
        Group all;
        for (const Group& g : groups_) all.insert(all.end(), g.begin(), g.end());
        return all;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        groups_.clear();
    }
    bool pointerHidden() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return pointerHidden_;
    }

private:
    static int toPixel(int32_t n, int size) {
        if (size <= 0) return 0;
        const int64_t pixel = (int64_t(std::clamp<int32_t>(n, 0, 65535)) * size + 65534) / 65535;
        return int(std::clamp<int64_t>(pixel, 0, size - 1));
    }
    void follow(const InputRecord& r) {
        if (r.type != InputRecord::Type::Mouse || !(r.flags & mouse_flag::Move)) return;
        if (r.flags & mouse_flag::Absolute) {
            pointer_.place(toPixel(r.dx, size_.width), toPixel(r.dy, size_.height));
        } else {
            int x = 0, y = 0;
            pointer_.cursorPosition(x, y);
            pointer_.place(std::clamp(x + r.dx, 0, std::max(0, size_.width - 1)),
                           std::clamp(y + r.dy, 0, std::max(0, size_.height - 1)));
        }
    }

    mutable std::mutex mutex_;
    ScreenSize size_;
    std::vector<Group> groups_;
    FakeCursorControl pointer_;  // where the records put the pointer
    bool pointerHidden_ = false;
};

}  // namespace platform
