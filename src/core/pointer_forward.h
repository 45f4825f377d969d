// The pointer record that the input handlers hand to the annotation overlay.
// The handler locks the slot, writes the record and then sends UM_BRUSH (4, 0)
// synchronously to the main hub; the overlay reads the record while it handles
// that message. The sender holds the lock until the send returned, so
// forwarding is serialised across sessions and each UM_BRUSH 4 sees its own
// record.
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

// One per program, shared by the input handler (writer) and the overlay (reader).
struct ForwardedPointerSlot {
    std::mutex mutex;        // held by the sender from writing the record until the send returned
    ForwardedPointer record; // read by the overlay inside its UM_BRUSH 4 handler (UI thread)
};

}  // namespace core
