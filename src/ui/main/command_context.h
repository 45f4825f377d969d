// The command context: handed to the session server as user data and to every
// dispatch. It gives the dispatcher the hub, the settings, the server and the
// features, and holds the dispatcher's own state.
#pragma once

#include "app/settings.h"
#include "ui/main/features.h"
#include "ui/main/main_hub.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "net/session_types.h"

namespace ui {

struct CommandContext {
    net::SessionPort* server = nullptr;
    MainHub* hub = nullptr;
    app::Settings* settings = nullptr;
    Features features;

    // The document folder (setting DOC_DIR with its default), as the
    // application resolves it.
    std::function<std::string()> docDir;
    // The product variant inserts screenshots into the drawing board.
    bool screenshotsToDrawingBoard = false;

    // Socket of the phone that streams its picture to the PC, -1 when none.
    std::atomic<int> liveSourceSocket{-1};

    // MsgPPT attach: time (ms) of the last accepted request.
    std::mutex pptMutex;
    int64_t lastPptAttach = 0;
    bool pptAttachedOnce = false;
};

}  // namespace ui
