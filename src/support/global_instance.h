// The one process-wide instance of a service: installed and destroyed by the
// owner, read from any thread without a lock.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

namespace support {

template <typename T>
class GlobalInstance {
public:
    T* get() const { return pointer_.load(); }

    // Replaces the instance; the previous one, if any, is destroyed after
    // readers can no longer reach it.
    void install(std::unique_ptr<T> instance) {
        std::unique_ptr<T> previous;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            previous = std::move(owned_);
            owned_ = std::move(instance);
            pointer_.store(owned_.get());
        }
    }

    // Takes the instance out for the caller to destroy; readers see null
    // from here on.
    std::unique_ptr<T> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        pointer_.store(nullptr);
        return std::move(owned_);
    }

private:
    std::mutex mutex_;
    std::unique_ptr<T> owned_;
    std::atomic<T*> pointer_{nullptr};
};

}  // namespace support
