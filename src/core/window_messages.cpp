#include "core/window_messages.h"

#include <cstdio>

namespace core {

const char* windowMessageName(uint32_t message) {
    switch (message) {
    case UM_RUN_ON_UI: return "UM_RUN_ON_UI";
    case UM_QUIT: return "UM_QUIT";
    case UM_TRAY: return "UM_TRAY";
    case UM_PLAY_URL: return "UM_PLAY_URL";
    case UM_MEDIA_CLOSE: return "UM_MEDIA_CLOSE";
    case UM_MEDIA_SEEK: return "UM_MEDIA_SEEK";
    case UM_MEDIA_PAUSE: return "UM_MEDIA_PAUSE";
    case UM_PAINTER: return "UM_PAINTER";
    case UM_LIVE_OPEN: return "UM_LIVE_OPEN";
    case UM_BRUSH: return "UM_BRUSH";
    case UM_SPOT: return "UM_SPOT";
    case UM_MEDIA_OPEN: return "UM_MEDIA_OPEN";
    case UM_SHOW_CONNECT: return "UM_SHOW_CONNECT";
    case UM_CLIENT_STATE: return "UM_CLIENT_STATE";
    case UM_PC_CAMERA: return "UM_PC_CAMERA";
    case UM_GLASS: return "UM_GLASS";
    case UM_ENCODER_CLOSE: return "UM_ENCODER_CLOSE";
    case UM_EDIT_TEXT_END: return "UM_EDIT_TEXT_END";
    case UM_DRAWING_BOARD: return "UM_DRAWING_BOARD";
    case UM_RECORD_STOP: return "UM_RECORD_STOP";
    default: break;
    }
    // Unknown numbers get a per-thread buffer, so callers on different
    // threads never see each other's text.
    thread_local char unknown[24];
    std::snprintf(unknown, sizeof unknown, "UM_0x%x", static_cast<unsigned>(message));
    return unknown;
}

}  // namespace core
