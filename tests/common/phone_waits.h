// Waits on a reference-client connection that the tests of several
// subsystems share.
#pragma once

#include "phone/phone_client.h"

#include <chrono>

namespace testing_support {

// True when the other side closes the connection within `timeoutMs`; frames
// that arrive meanwhile are read and dropped.
inline bool closedByPeer(phone::PhoneClient& client, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    phone::ReceivedFrame frame;
    while (std::chrono::steady_clock::now() < end)
        if (client.readFrame(frame, 100) == phone::ReadResult::Closed) return true;
    return false;
}

}  // namespace testing_support
