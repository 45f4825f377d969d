// Private messages of the main hub. The numbers are kept because other
// programs post some of them through the hub socket.
#pragma once

#include <cstdint>

namespace core {

enum WindowMessage : uint32_t {
    UM_RUN_ON_UI = 0x478,
    UM_QUIT = 0x479,
    UM_TRAY = 0x47a,
    UM_PLAY_URL = 0x47c,
    UM_MEDIA_CLOSE = 0x47d,
    UM_MEDIA_SEEK = 0x47e,
    UM_MEDIA_PAUSE = 0x47f,
    UM_PAINTER = 0x480,
    UM_LIVE_OPEN = 0x481,
    UM_BRUSH = 0x482,
    UM_SPOT = 0x483,
    UM_MEDIA_OPEN = 0x484,
    UM_SHOW_CONNECT = 0x485,
    UM_CLIENT_STATE = 0x487,
    UM_PC_CAMERA = 0x488,
    UM_GLASS = 0x489,
    UM_ENCODER_CLOSE = 0x48a,
    UM_EDIT_TEXT_END = 0x54d,
    UM_DRAWING_BOARD = 0x554,
    UM_RECORD_STOP = 0x556,
};

// The photo wall window's own close message (same number as UM_QUIT, but
// posted to the photo wall, not to the hub).
inline constexpr uint32_t UM_PHOTO_CLOSE = 0x479;

// Messages the program posts to other programs' windows.
inline constexpr uint32_t kMiracastSinkMessage = 0x465;
inline constexpr uint32_t kClassroomServerLoginMessage = 0x557;

// Name of a hub message for log lines ("UM_0x123" when unknown).
const char* windowMessageName(uint32_t message);

}  // namespace core
