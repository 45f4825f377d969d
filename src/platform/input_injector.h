// Synthetic pointer and keyboard input. Handlers build Windows-style input
// records (mouse flags, 0..65535 absolute coordinates, virtual-key codes) and
// the backend turns each group into the platform's own events.
#pragma once

#include "platform/cursor_control.h"
#include "platform/screen_info.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

// Mouse record flags (the MOUSEEVENTF_* values).
namespace mouse_flag {
inline constexpr uint32_t Move = 0x0001;
inline constexpr uint32_t LeftDown = 0x0002;
inline constexpr uint32_t LeftUp = 0x0004;
inline constexpr uint32_t RightDown = 0x0008;
inline constexpr uint32_t RightUp = 0x0010;
inline constexpr uint32_t MiddleDown = 0x0020;
inline constexpr uint32_t MiddleUp = 0x0040;
inline constexpr uint32_t Wheel = 0x0800;
inline constexpr uint32_t HWheel = 0x1000;
inline constexpr uint32_t Absolute = 0x8000;
}  // namespace mouse_flag

// Keyboard record flag: the key goes up (KEYEVENTF_KEYUP).
inline constexpr uint32_t kKeyUp = 0x0002;
// One wheel notch in mouseData.
inline constexpr int kWheelDelta = 120;

struct InputRecord {
    enum class Type : uint8_t { Mouse, Keyboard };
    Type type = Type::Mouse;
    uint32_t flags = 0;   // mouse_flag bits, or kKeyUp for a key
    int32_t dx = 0;       // absolute: 0..65535 across the primary screen; relative: pixels
    int32_t dy = 0;
    int32_t mouseData = 0;  // wheel delta, 120 per notch, positive away from the user
    uint16_t vk = 0;        // Windows virtual-key code

    static InputRecord mouse(uint32_t flags, int32_t dx, int32_t dy, int32_t data = 0) {
        InputRecord r;
        r.flags = flags;
        r.dx = dx;
        r.dy = dy;
        r.mouseData = data;
        return r;
    }
    static InputRecord key(uint16_t vk, bool up) {
        InputRecord r;
        r.type = Type::Keyboard;
        r.vk = vk;
        r.flags = up ? kKeyUp : 0;
        return r;
    }
    bool operator==(const InputRecord&) const = default;
};

// Injects input records. Thread-safe: a group given to one sendInput call is
// injected without events of another call in between.
class InputInjector : public CursorControl {
public:
    // Injects the records in order; returns how many were injected.
    virtual size_t sendInput(const InputRecord* records, size_t count) = 0;
    // Primary screen size in pixels (0 x 0 when unknown), current at each call.
    virtual ScreenSize screenSize() = 0;
    // Hides or shows the system pointer everywhere (the presentation cursor
    // draws its own); shown again when the injector goes.
    virtual void setSystemPointerHidden(bool hidden) = 0;
};

// XTest on $DISPLAY (the display named by `display` when not empty); null when
// the display or the XTEST extension is missing.
std::unique_ptr<InputInjector> makeXTestInjector(const char* display = nullptr);

// Maps a Windows virtual-key code to an X keysym; 0 when the code has none.
unsigned long keysymForVirtualKey(uint16_t vk);

}  // namespace platform
