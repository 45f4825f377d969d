// The lock type the program uses between threads.
#pragma once

#include <mutex>

namespace support {

// A mutual-exclusion lock; also satisfies BasicLockable so that
// std::lock_guard<MyMutex> works.
class MyMutex {
public:
    void lock() { m_.lock(); }
    void unlock() { m_.unlock(); }
    bool try_lock() { return m_.try_lock(); }

private:
    std::mutex m_;
};

}  // namespace support
