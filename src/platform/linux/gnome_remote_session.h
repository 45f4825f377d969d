// The mutter RemoteDesktop + ScreenCast session shared by the PipeWire
// grabber and the mutter injector.
#pragma once

#include "platform/gnome_remote.h"
#include "platform/linux/dbus_call.h"

#include <string>

namespace platform {

class GnomeRemoteSession {
public:
    ~GnomeRemoteSession();
    bool start();

    uint32_t nodeId() const { return nodeId_; }

    // Input, sent without waiting for replies. Coordinates are stream pixels.
    void pointerAbsolute(double x, double y);
    void pointerRelative(double dx, double dy);
    void pointerButton(int32_t evdevButton, bool pressed);
    void pointerAxisDiscrete(uint32_t axis, int32_t steps);
    void keyboardKeycode(uint32_t keycode, bool pressed);

private:
    DBusMessage* sessionCall(const char* method);
    bool waitForNode(int timeoutMs);

    DBusLink bus_;
    std::string remotePath_;
    std::string castPath_;
    std::string streamPath_;
    uint32_t nodeId_ = 0;
    bool started_ = false;
};

}  // namespace platform
