// The mutter RemoteDesktop + ScreenCast session shared by the PipeWire
// grabber and the mutter injector.
#pragma once

#include "platform/gnome_remote.h"
#include "platform/linux/dbus_call.h"

#include <atomic>
#include <string>

namespace platform {

class GnomeRemoteSession : public RemoteScreenSession {
public:
    ~GnomeRemoteSession() override;
    bool start();
    // True when the session runs; after mutter closed it (the teacher
    // stopped the sharing in GNOME's top bar, mutter restarted) a new one is
    // started, at most every two seconds.
    bool ensureStarted() override;
    // Ends the session as mutter does when the teacher stops the sharing.
    void stop();

    // The PipeWire node of the current stream (a new one after a restart).
    uint32_t nodeId() const override { return nodeId_.load(); }
    // Counts the starts: a stream made for an earlier one is gone. Reads
    // first, without waiting, whether mutter closed the session (then 0).
    uint64_t generation() override;

    // Input, sent without waiting for replies. Coordinates are stream pixels.
    void pointerAbsolute(double x, double y, int width, int height) override;
    void pointerRelative(double dx, double dy) override;
    void pointerButton(int32_t evdevButton, bool pressed) override;
    void pointerAxisDiscrete(uint32_t axis, int32_t steps) override;
    void keyboardKeycode(uint32_t keycode, bool pressed) override;

private:
    DBusMessage* sessionCall(const char* method);
    bool startLocked();
    bool ensureStartedLocked();
    // Reads, without waiting, whether mutter closed the session.
    void pollClosedLocked();
    bool waitForNode(int timeoutMs);

    DBusLink bus_;
    std::string remotePath_;
    std::string castPath_;
    std::string streamPath_;
    std::string closedMatch_;
    std::atomic<uint32_t> nodeId_{0};
    bool started_ = false;
    uint64_t generation_ = 0;
    int64_t lastAttemptMs_ = 0;
};

}  // namespace platform
