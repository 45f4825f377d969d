// A fixed pool of worker threads for background jobs (opening received files,
// the capture service's cursor nudge and similar). Jobs start in the order
// they were submitted; with several workers they may overlap.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace support {

class ThreadPool {
public:
    explicit ThreadPool(int workers = 4);
    ~ThreadPool();  // runs shutdown()
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Queues a job; false once the pool is shutting down (the job is dropped).
    bool submit(std::function<void()> job);
    // Lets the running jobs finish, drops the queued ones and joins the workers.
    // Safe to call twice.
    void shutdown();
    size_t queued();

private:
    void workerLoop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> workers_;
    bool stopping_ = false;
};

}  // namespace support
