// The pointer record that the input handlers hand to the annotation overlay.
// The handler writes it and then sends UM_BRUSH (4, 0) synchronously to the
// main hub; the overlay reads it while it handles that message. The sender
// waits meanwhile, and forwarding is serialised across sessions, so each
// UM_BRUSH 4 sees its own record.
#pragma once

#include <cstdint>
#include <mutex>

namespace core {

struct ForwardedPointer {
    int32_t x = 0;  // primary-screen pixels
    int32_t y = 0;
    bool isUp = false;    // the event released the button
    bool isDown = false;  // the event pressed the button
};

// Read by the overlay inside its UM_BRUSH 4 handler (UI thread).
inline ForwardedPointer& forwardedPointer() {
    static ForwardedPointer record;
    return record;
}

// Held by the sender from writing the record until the send returned.
inline std::mutex& forwardedPointerMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace core
