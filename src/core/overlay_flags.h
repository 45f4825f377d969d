// State of the overlay tools, written on the UI thread when a tool shows or
// hides and read by the input handlers and the dispatcher without a lock.
// The program owns one set and hands it to everything that reads or writes it.
#pragma once

#include <atomic>

namespace core {

struct OverlayFlags {
    std::atomic<bool> spotlightActive{false};
    std::atomic<bool> annotationForwarding{false};
    std::atomic<bool> magnifierActive{false};
    std::atomic<bool> photoWallOpen{false};
    std::atomic<bool> remoteButtonHeld{false};
};

}  // namespace core
