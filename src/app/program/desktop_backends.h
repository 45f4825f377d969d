// The capture and input backends for the desktop session the program runs
// in: the X server's in X11 sessions, mutter's ScreenCast (PipeWire) and
// RemoteDesktop in GNOME Wayland sessions.
#pragma once

#include "platform/cursor_control.h"
#include "platform/desktop_session.h"
#include "platform/input_injector.h"
#include "platform/screen_grabber.h"

#include <functional>
#include <memory>

namespace core {
class Settings;
}

namespace app {

// Detects the session (once, logged) and, in a Wayland session, has the
// program's own windows go through XWayland, where stay-on-top and window
// positions work. Call before the QApplication is made.
platform::SessionKind prepareDesktopSession();

// The session as detected, and the text the about page shows for it.
platform::SessionKind desktopSession();
const char* desktopSessionName();

// Where the desktop portal's restore token is kept (the screen's consent),
// and who hears that the portal waits for the teacher's consent (called on
// any thread; at once with the current state). Set before the backends are
// made.
void setDesktopSettings(core::Settings* settings);
void watchDesktopConsent(std::function<void(bool waiting)> listener);

// True when the desktop portal is used: in Wayland sessions other than
// GNOME's, and in any Wayland session when LUMACRO3_DESKTOP_PORTAL=1.
bool usesDesktopPortal();

// Backends for the session. In a GNOME Wayland session they share one
// mutter remote-desktop session, elsewhere one desktop-portal session,
// opened at the first call; when neither can be opened the X11 backends are
// used (through XWayland they see little).
std::unique_ptr<platform::ScreenGrabber> makeDesktopScreenGrabber();
std::unique_ptr<platform::CursorControl> makeDesktopCursorControl();
std::unique_ptr<platform::InputInjector> makeDesktopInputInjector();

}  // namespace app
