// What the classroom overlays need from the rest of the program: the phones
// (state messages, the controlling phone's tag and screen height), the
// settings store and screenshots of the primary screen.
#pragma once

#include <QImage>

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <string>

namespace core {
class Settings;
struct OverlayFlags;
struct ForwardedPointerSlot;
}

namespace tools {

struct ToolsLink {
    // Sends a message to every phone.
    std::function<void(const std::string& className, const Json::Value& body)> broadcast;
    // Tag and reported screen height of the controlling phone.
    std::function<std::string()> controllerTag;
    std::function<int()> controllerHeight;
    core::Settings* settings = nullptr;
    // The program's overlay state (read by the input handlers) and the pointer
    // record the input handlers forward to the annotation overlay.
    core::OverlayFlags* overlay = nullptr;
    core::ForwardedPointerSlot* forwarded = nullptr;
    // The whole primary screen as it is now; a null image when it cannot be taken.
    std::function<QImage()> screenshot;
    // Monotonic milliseconds; empty means the steady clock.
    std::function<int64_t()> nowMs;

    void send(const std::string& className, const Json::Value& body) const {
        if (broadcast) broadcast(className, body);
    }
    void sendState(const std::string& className, bool shown) const;
    // A mirroring client controls the PC: its strokes fade and are echoed.
    bool mirroring() const;
    int64_t now() const;
    core::OverlayFlags& flags() const { return *overlay; }
    QImage takeScreenshot() const;
};

}  // namespace tools
