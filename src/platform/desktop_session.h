// Which kind of desktop session the program runs in, and so which capture
// and input backends can reach the screen: X11 sessions use the X server,
// GNOME Wayland sessions mutter's ScreenCast and RemoteDesktop D-Bus APIs.
#pragma once

#include <string>

namespace platform {

enum class SessionKind {
    X11,            // an X server, or no Wayland signs at all
    GnomeWayland,   // Wayland with mutter's ScreenCast API on the session bus
    KdeWayland,     // Wayland with KWin on the session bus
    PortalWayland,  // another Wayland compositor: only the desktop portal
};

// What the environment and the session bus say.
struct SessionFacts {
    std::string sessionType;     // $XDG_SESSION_TYPE
    std::string waylandDisplay;  // $WAYLAND_DISPLAY
    bool mutterScreenCast = false;
    bool kwin = false;
};

// A Wayland session is one whose type says so or, when the type is unset
// (or "tty", as some login paths leave it), one with a Wayland display; the
// compositor is then told by its bus names.
SessionKind classifySession(const SessionFacts& facts);

// Name of the session kind for logs and the about page ("X11", "GNOME
// Wayland", "KDE Wayland", "Wayland"): names of products, not translated.
const char* sessionKindName(SessionKind kind);

// Reads the environment and asks the session bus for its names, once; later
// calls return the first answer. The answer is logged.
SessionKind detectDesktopSession();

}  // namespace platform
