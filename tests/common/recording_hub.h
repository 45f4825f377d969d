// A main hub that runs nothing: it keeps every posted and sent message, with
// its heap block, for tests to inspect. Safe to use from several threads.
#pragma once

#include "core/main_hub.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace testing_support {

class RecordingHub : public core::MainHub {
public:
    struct Record {
        uint32_t message = 0;
        int64_t wParam = 0;
        int64_t lParam = 0;
        std::unique_ptr<core::HeapBlock> block;
        bool sent = false;  // send() rather than post()

        // The block as the expected type, or null.
        template <typename T>
        T* blockAs() const {
            return dynamic_cast<T*>(block.get());
        }
    };

    // Message number and arguments without the block, for comparisons.
    struct Summary {
        uint32_t message;
        int64_t wParam;
        int64_t lParam;
        bool operator==(const Summary&) const = default;
    };

    void post(uint32_t message, int64_t wParam, int64_t lParam,
              std::unique_ptr<core::HeapBlock> block = nullptr) override {
        add(Record{message, wParam, lParam, std::move(block), false});
    }

    void send(uint32_t message, int64_t wParam, int64_t lParam) override {
        add(Record{message, wParam, lParam, nullptr, true});
    }

    size_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_.size();
    }

    size_t count(uint32_t message) const {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t n = 0;
        for (const Record& r : records_)
            n += r.message == message ? 1 : 0;
        return n;
    }

    // Every record so far, in order, without blocks.
    std::vector<Summary> summaries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Summary> out;
        out.reserve(records_.size());
        for (const Record& r : records_)
            out.push_back(Summary{r.message, r.wParam, r.lParam});
        return out;
    }

    // Removes and returns the first record of `message`, if any.
    std::optional<Record> take(uint32_t message) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = records_.begin(); it != records_.end(); ++it) {
            if (it->message == message) {
                Record r = std::move(*it);
                records_.erase(it);
                return r;
            }
        }
        return std::nullopt;
    }

    // Removes and returns every record, in order.
    std::vector<Record> takeAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Record> out = std::move(records_);
        records_.clear();
        return out;
    }

    void clear() { takeAll(); }

    // Waits until at least `n` records are held; false on time-out.
    bool waitForSize(size_t n, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return records_.size() >= n; });
    }

private:
    void add(Record record) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            records_.push_back(std::move(record));
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Record> records_;
};

}  // namespace testing_support
