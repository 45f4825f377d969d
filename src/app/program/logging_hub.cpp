#include "app/program/logging_hub.h"

#include "support/logger.h"

namespace app {

LoggingHub::LoggingHub() : thread_(&LoggingHub::run, this) {}

LoggingHub::~LoggingHub() { stop(); }

void LoggingHub::post(uint32_t message, int64_t wParam, int64_t lParam,
                      std::unique_ptr<ui::HeapBlock> block) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        queue_.push_back(Entry{message, wParam, lParam, std::move(block)});
    }
    wake_.notify_one();
}

void LoggingHub::send(uint32_t message, int64_t wParam, int64_t lParam) {
    Entry entry{message, wParam, lParam, nullptr};
    handle(entry);
}

void LoggingHub::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
}

void LoggingHub::run() {
    for (;;) {
        Entry entry;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            entry = std::move(queue_.front());
            queue_.pop_front();
        }
        handle(entry);
    }
}

void LoggingHub::handle(Entry& entry) {
    if (entry.message == ui::UM_RUN_ON_UI) {
        if (auto* run = dynamic_cast<ui::RunOnUiBlock*>(entry.block.get()); run && run->callable) {
            run->callable(run->first, run->second);
            return;
        }
    }
    LOGOUT("%s (%lld, %lld) has no window to handle it", ui::windowMessageName(entry.message),
           static_cast<long long>(entry.wParam), static_cast<long long>(entry.lParam));
}

}  // namespace app
