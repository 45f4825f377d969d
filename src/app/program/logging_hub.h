// A hub for running without a user interface: it runs posted callables and
// logs every other message, which no window handles yet.
#pragma once

#include "ui/main/main_hub.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace app {

class LoggingHub : public ui::MainHub {
public:
    LoggingHub();
    ~LoggingHub() override;
    void post(uint32_t message, int64_t wParam, int64_t lParam,
              std::unique_ptr<ui::HeapBlock> block) override;
    void send(uint32_t message, int64_t wParam, int64_t lParam) override;
    // Stops the hub thread; messages still queued are dropped (and freed).
    void stop();

private:
    struct Entry {
        uint32_t message;
        int64_t wParam;
        int64_t lParam;
        std::unique_ptr<ui::HeapBlock> block;
    };
    void run();
    void handle(Entry& entry);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Entry> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace app
