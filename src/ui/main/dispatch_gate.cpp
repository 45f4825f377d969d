#include "ui/main/dispatch_gate.h"

namespace ui {

DispatchGate::Pass DispatchGate::enter() {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return !held_ || closed_; });
    if (closed_) {
        ++refused_;
        return Pass();
    }
    ++inside_;
    return Pass(this);
}

void DispatchGate::leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--inside_ == 0) idle_.notify_all();
}

void DispatchGate::hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = true;
}

void DispatchGate::open() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    opened_.notify_all();
}

void DispatchGate::close() {
    std::unique_lock<std::mutex> lock(mutex_);
    closed_ = true;
    opened_.notify_all();
    idle_.wait(lock, [this] { return inside_ == 0; });
}

bool DispatchGate::closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

uint64_t DispatchGate::refused() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return refused_;
}

}  // namespace ui
