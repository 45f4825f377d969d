// GNOME Wayland sessions: screen pictures through mutter's ScreenCast API
// (PipeWire, shared-memory frames) and input through its RemoteDesktop API.
// Neither asks the teacher: mutter grants both to programs of the session.
#pragma once

#include "platform/input_injector.h"
#include "platform/screen_grabber.h"
#include "platform/screen_info.h"

#include <cstdint>
#include <memory>

namespace platform {

// One RemoteDesktop session with a linked ScreenCast stream of the primary
// monitor; the injector's absolute motion is relative to that stream.
class GnomeRemoteSession;

// Creates and starts the session; null (with a log line) when mutter's APIs
// are not on the session bus or refuse.
std::shared_ptr<GnomeRemoteSession> openGnomeRemoteSession();

// A grabber reading the session's stream. open() waits for the first frame.
std::unique_ptr<ScreenGrabber> makePipeWireScreenGrabber(std::shared_ptr<GnomeRemoteSession> session);

// An injector sending through the session; `screen` gives the size that
// absolute records (0..65535) are spread over.
std::unique_ptr<InputInjector> makeMutterInjector(std::shared_ptr<GnomeRemoteSession> session,
                                                  std::unique_ptr<ScreenInfo> screen);

// Maps a Windows virtual-key code to a Linux evdev key code; 0 when the code
// has none.
uint32_t evdevKeyForVirtualKey(uint16_t vk);

}  // namespace platform
