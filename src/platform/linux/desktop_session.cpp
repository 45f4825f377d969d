#include "platform/desktop_session.h"

#include "platform/linux/dbus_call.h"
#include "support/logger.h"

#include <cstdlib>
#include <mutex>

namespace platform {

SessionKind classifySession(const SessionFacts& facts) {
    bool wayland = facts.sessionType == "wayland";
    if (facts.sessionType.empty() || facts.sessionType == "tty") wayland = !facts.waylandDisplay.empty();
    if (!wayland) return SessionKind::X11;
    if (facts.mutterScreenCast) return SessionKind::GnomeWayland;
    if (facts.kwin) return SessionKind::KdeWayland;
    return SessionKind::PortalWayland;
}

const char* sessionKindName(SessionKind kind) {
    switch (kind) {
    case SessionKind::X11: return "X11";
    case SessionKind::GnomeWayland: return "GNOME Wayland";
    case SessionKind::KdeWayland: return "KDE Wayland";
    case SessionKind::PortalWayland: return "Wayland";
    }
    return "unknown";
}

SessionKind detectDesktopSession() {
    static std::once_flag once;
    static SessionKind kind = SessionKind::X11;
    std::call_once(once, [] {
        SessionFacts facts;
        if (const char* v = std::getenv("XDG_SESSION_TYPE")) facts.sessionType = v;
        if (const char* v = std::getenv("WAYLAND_DISPLAY")) facts.waylandDisplay = v;
        if (classifySession(facts) != SessionKind::X11) {
            DBusLink bus;
            std::lock_guard<std::mutex> lock(bus.mutex());
            if (bus.connect()) {
                for (const std::string& name : bus.listNames()) {
                    if (name == "org.gnome.Mutter.ScreenCast") facts.mutterScreenCast = true;
                    if (name == "org.kde.KWin") facts.kwin = true;
                }
            }
        }
        kind = classifySession(facts);
        LOGOUT("desktop session: %s (XDG_SESSION_TYPE=%s, WAYLAND_DISPLAY=%s)", sessionKindName(kind),
               facts.sessionType.c_str(), facts.waylandDisplay.c_str());
    });
    return kind;
}

}  // namespace platform
