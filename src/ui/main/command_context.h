// The command context: handed to the session server as user data and to every
// dispatch. It gives the dispatcher the hub, the settings, the server and the
// features, and holds the dispatcher's own state.
#pragma once

#include "core/features.h"
#include "core/main_hub.h"
#include "core/overlay_flags.h"
#include "core/settings.h"
#include "ui/main/dispatch_gate.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "net/session_types.h"

namespace ui {

// The product variant (descriptor id) whose screenshots also go onto the
// drawing board; every other variant only saves them.
inline constexpr const char kBoardScreenshotProductId[] = "qv-board";
inline bool screenshotsGoToDrawingBoard(const std::string& productId) {
    return productId == kBoardScreenshotProductId;
}

struct CommandContext {
    net::SessionPort* server = nullptr;
    core::MainHub* hub = nullptr;
    core::Settings* settings = nullptr;
    core::Features features;
    // Every session event passes it; shutdown closes it before it frees a feature.
    DispatchGate gate;
    // The overlay tools' state (the spotlight takes pointer moves while shown);
    // null reads as every tool hidden.
    const core::OverlayFlags* overlay = nullptr;

    // The document folder (setting DOC_DIR with its default), as the
    // application resolves it.
    std::function<std::string()> docDir;
    // The product variant inserts screenshots into the drawing board.
    bool screenshotsToDrawingBoard = false;

    // Socket of the phone that streams its picture to the PC, -1 when none.
    std::atomic<int> liveSourceSocket{-1};

    // The black-out operation run on the UI thread for MsgScreen (first = action).
    // Empty until the black-out screen exists; the dispatcher then posts a
    // callable that only logs.
    std::function<void(int64_t, int64_t)> blackScreen;

    // Monotonic milliseconds for the MsgPPT attach limit; null means
    // support::gettime2. Tests put their own clock here.
    int64_t (*monotonicMs)() = nullptr;

    // MsgPPT attach: time (ms) of the last accepted request.
    std::mutex pptMutex;
    int64_t lastPptAttach = 0;
    bool pptAttachedOnce = false;
};

}  // namespace ui
