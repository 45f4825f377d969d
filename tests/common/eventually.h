// Polls a condition until it holds or a time limit has passed.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

// True as soon as `done()` is; checks once more when the time is up.
template <typename Predicate>
bool eventually(Predicate done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000),
                std::chrono::milliseconds step = std::chrono::milliseconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(step);
    }
    return done();
}

// The same with the limit in milliseconds, checked every 10 ms.
inline bool waitUntil(const std::function<bool()>& done, int ms) {
    return eventually(done, std::chrono::milliseconds(ms), std::chrono::milliseconds(10));
}

}  // namespace testing_support
