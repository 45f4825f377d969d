// The main hub as the rest of the program sees it: a queue of private messages
// handled in order on the UI thread.
#pragma once

#include "core/heap_blocks.h"
#include "core/window_messages.h"

#include <cstdint>
#include <memory>

namespace core {

class MainHub {
public:
    virtual ~MainHub() = default;
    // Queues a message from any thread. The heap block, when given, belongs to
    // the hub from now on. It stands for the argument that the message number
    // defines as the heap one (wParam of UM_MEDIA_SEEK and UM_PAINTER, lParam
    // of UM_PLAY_URL, UM_MEDIA_OPEN and UM_BRUSH 5, both of UM_RUN_ON_UI);
    // that argument is passed as 0.
    virtual void post(uint32_t message, int64_t wParam, int64_t lParam,
                      std::unique_ptr<HeapBlock> block = nullptr) = 0;
    // The one synchronous case: runs the message on the UI thread and returns
    // after it ran (directly when already on the UI thread).
    virtual void send(uint32_t message, int64_t wParam, int64_t lParam) = 0;
};

}  // namespace core
