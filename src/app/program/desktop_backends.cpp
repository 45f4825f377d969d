#include "app/program/desktop_backends.h"

#include "platform/gnome_remote.h"
#include "platform/screen_info.h"
#include "support/logger.h"

#include <cstdlib>
#include <mutex>

namespace app {

namespace {

// The mutter session all GNOME backends share; opened once, on first use.
std::shared_ptr<platform::GnomeRemoteSession> gnomeSession() {
    static std::mutex mutex;
    static std::shared_ptr<platform::GnomeRemoteSession> session;
    static bool tried = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (!tried && desktopSession() == platform::SessionKind::GnomeWayland) {
        tried = true;
        session = platform::openGnomeRemoteSession();
        if (!session) LOGOUT("GNOME Wayland: falling back to the X11 backends");
    }
    return session;
}

}  // namespace

platform::SessionKind prepareDesktopSession() {
    const platform::SessionKind kind = platform::detectDesktopSession();
    if (kind != platform::SessionKind::X11) {
        // Qt as a native Wayland client cannot keep the overlays on top or
        // place windows; through XWayland it can.
        const char* chosen = std::getenv("QT_QPA_PLATFORM");
        if (!chosen || !*chosen) setenv("QT_QPA_PLATFORM", "xcb", 1);
        if (kind != platform::SessionKind::GnomeWayland)
            LOGOUT("Wayland session without mutter: screen capture and remote input are not available");
    }
    return kind;
}

platform::SessionKind desktopSession() { return platform::detectDesktopSession(); }

const char* desktopSessionName() { return platform::sessionKindName(desktopSession()); }

std::unique_ptr<platform::ScreenGrabber> makeDesktopScreenGrabber() {
    if (auto session = gnomeSession()) return platform::makePipeWireScreenGrabber(session);
    return platform::makeX11ScreenGrabber();
}

std::unique_ptr<platform::CursorControl> makeDesktopCursorControl() {
    if (auto session = gnomeSession()) return platform::makeMutterInjector(session, platform::makeSystemScreenInfo());
    return platform::makeX11CursorControl();
}

std::unique_ptr<platform::InputInjector> makeDesktopInputInjector() {
    if (auto session = gnomeSession()) return platform::makeMutterInjector(session, platform::makeSystemScreenInfo());
    return platform::makeXTestInjector();
}

}  // namespace app
