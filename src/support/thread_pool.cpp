#include "support/thread_pool.h"

#include "support/logger.h"

#include <exception>

namespace support {

ThreadPool::ThreadPool(int workers) {
    if (workers < 1) workers = 1;
    for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { workerLoop(); });
}

ThreadPool::~ThreadPool() { shutdown(); }

bool ThreadPool::submit(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return false;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

void ThreadPool::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ && workers_.empty()) return;
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    for (auto& t : workers_)
        if (t.joinable()) t.join();
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.clear();
}

size_t ThreadPool::queued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

void ThreadPool::workerLoop() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        // No exception leaves a worker: a failing job is logged and the pool goes on.
        try {
            job();
        } catch (const std::exception& e) {
            LOGOUT("threadPool job failed: %s", e.what());
        } catch (...) {
            LOGOUT("threadPool job failed");
        }
    }
}

}  // namespace support
