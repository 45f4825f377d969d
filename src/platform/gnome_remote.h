// Wayland sessions: screen pictures over PipeWire (shared-memory frames) and
// input through the compositor. On GNOME through mutter's ScreenCast and
// RemoteDesktop APIs, which ask the teacher nothing; elsewhere through the
// desktop portal, which asks once for the screen (a restore token keeps the
// answer) and at every start for input.
#pragma once

#include "platform/input_injector.h"
#include "platform/screen_grabber.h"
#include "platform/screen_info.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// A screencast stream of the primary monitor on PipeWire and a way to send
// input to the compositor. Coordinates of absolute motion are stream pixels.
class RemoteScreenSession {
public:
    virtual ~RemoteScreenSession() = default;
    // True when the stream runs (starting it again when it was closed and
    // that needs no one's consent).
    virtual bool ensureStarted() = 0;
    // The PipeWire node of the current stream.
    virtual uint32_t nodeId() const = 0;
    // Counts the starts: a stream made for an earlier one is gone; 0 when
    // not started.
    virtual uint64_t generation() = 0;
    // A connection to the PipeWire daemon that holds the stream, owned by
    // the caller; -1 for the user's default daemon.
    virtual int openPipeWireRemote() { return -1; }

    // Input, sent without waiting for replies. `width` and `height` are the
    // screen's, for sessions that must make absolute motion of relative.
    virtual void pointerAbsolute(double x, double y, int width, int height) = 0;
    virtual void pointerRelative(double dx, double dy) = 0;
    virtual void pointerButton(int32_t evdevButton, bool pressed) = 0;
    virtual void pointerAxisDiscrete(uint32_t axis, int32_t steps) = 0;
    virtual void keyboardKeycode(uint32_t keycode, bool pressed) = 0;
};

// One mutter RemoteDesktop session with a linked ScreenCast stream of the
// primary monitor; the injector's absolute motion is relative to that stream.
class GnomeRemoteSession;

// Creates and starts the session; null (with a log line) when mutter's APIs
// are not on the session bus or refuse.
std::shared_ptr<RemoteScreenSession> openGnomeRemoteSession();

// What the desktop portal's session keeps and tells outside the platform:
// the restore token of the screen's consent, and whether it waits for the
// teacher's answer to a consent dialog.
struct PortalHooks {
    std::function<std::string()> loadRestoreToken;
    std::function<void(const std::string&)> saveRestoreToken;
    std::function<void(bool waiting)> consentWaiting;
};

// Starts, on a thread of its own, a portal ScreenCast session (persist mode
// 2, with the kept restore token) and then a portal RemoteDesktop session
// for input. Never waits for the teacher: the stream and the input work
// once the teacher has agreed. Null when the portal is not on the bus.
std::shared_ptr<RemoteScreenSession> openPortalRemoteSession(PortalHooks hooks);

// A grabber reading the session's stream. open() waits for the first frame.
std::unique_ptr<ScreenGrabber> makePipeWireScreenGrabber(std::shared_ptr<RemoteScreenSession> session);

// An injector sending through the session; `screen` gives the size that
// absolute records (0..65535) are spread over.
std::unique_ptr<InputInjector> makeMutterInjector(std::shared_ptr<RemoteScreenSession> session,
                                                  std::unique_ptr<ScreenInfo> screen);

// Maps a Windows virtual-key code to a Linux evdev key code; 0 when the code
// has none.
uint32_t evdevKeyForVirtualKey(uint16_t vk);

}  // namespace platform
