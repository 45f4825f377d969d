// What each phone key code of MsgKeyEvent stands for.
#pragma once

#include <cstdint>

namespace input {

struct PhoneKey {
    enum class Kind : uint8_t {
        None,   // not a key of the table
        Press,  // press `vk`
        Chord,  // Ctrl + `vk`
        Page,   // page keys: drawing board or photo wall, then `vk`
        Close,  // drawing board, photo wall, else Alt+F4
        Zoom,   // spotlight, magnifier, drawing board, photo wall, else Ctrl + `vk`
    };
    Kind kind = Kind::None;
    uint16_t vk = 0;
    bool forward = false;  // Page: next page; Zoom: zoom in
};

// Codes 19..255 of the table; anything else is Kind::None.
PhoneKey phoneKey(int keyCode);

}  // namespace input
