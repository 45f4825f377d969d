#include "app/program/desktop_backends.h"

#include "core/settings.h"
#include "platform/gnome_remote.h"
#include "platform/screen_info.h"
#include "support/logger.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace app {

namespace {

constexpr const char kRestoreTokenName[] = "screenCastRestoreToken";

std::mutex hooksMutex;
core::Settings* desktopSettings = nullptr;
std::function<void(bool)> consentListener;
bool consentWaiting = false;

void noteConsentWaiting(bool waiting) {
    std::lock_guard<std::mutex> lock(hooksMutex);
    consentWaiting = waiting;
    if (consentListener) consentListener(waiting);
}

platform::PortalHooks portalHooks() {
    platform::PortalHooks hooks;
    hooks.loadRestoreToken = [] {
        std::lock_guard<std::mutex> lock(hooksMutex);
        return desktopSettings ? desktopSettings->getString(core::setting::SET, kRestoreTokenName, "")
                               : std::string();
    };
    hooks.saveRestoreToken = [](const std::string& token) {
        std::lock_guard<std::mutex> lock(hooksMutex);
        if (desktopSettings) desktopSettings->setString(core::setting::SET, kRestoreTokenName, token);
    };
    hooks.consentWaiting = noteConsentWaiting;
    return hooks;
}

// The session all Wayland backends share (mutter's on GNOME, else the
// desktop portal's); opened once, on first use.
std::shared_ptr<platform::RemoteScreenSession> remoteSession() {
    static std::mutex mutex;
    static std::shared_ptr<platform::RemoteScreenSession> session;
    static bool tried = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (tried || desktopSession() == platform::SessionKind::X11) return session;
    tried = true;
    if (usesDesktopPortal()) {
        session = platform::openPortalRemoteSession(portalHooks());
        if (!session) LOGOUT("desktop portal: falling back to the X11 backends");
    } else {
        session = platform::openGnomeRemoteSession();
        if (!session) LOGOUT("GNOME Wayland: falling back to the X11 backends");
    }
    return session;
}

}  // namespace

void setDesktopSettings(core::Settings* settings) {
    std::lock_guard<std::mutex> lock(hooksMutex);
    desktopSettings = settings;
}

void watchDesktopConsent(std::function<void(bool)> listener) {
    std::lock_guard<std::mutex> lock(hooksMutex);
    consentListener = std::move(listener);
    if (consentListener) consentListener(consentWaiting);
}

bool usesDesktopPortal() {
    const platform::SessionKind kind = desktopSession();
    if (kind == platform::SessionKind::X11) return false;
    const char* forced = std::getenv("LUMACRO3_DESKTOP_PORTAL");
    return kind != platform::SessionKind::GnomeWayland || (forced && std::strcmp(forced, "1") == 0);
}

platform::SessionKind prepareDesktopSession() {
    const platform::SessionKind kind = platform::detectDesktopSession();
    if (kind != platform::SessionKind::X11) {
        // Qt as a native Wayland client cannot keep the overlays on top or
        // place windows; through XWayland it can.
        const char* chosen = std::getenv("QT_QPA_PLATFORM");
        if (!chosen || !*chosen) setenv("QT_QPA_PLATFORM", "xcb", 1);
        if (usesDesktopPortal())
            LOGOUT("Wayland session: screen capture and remote input through the desktop portal");
    }
    return kind;
}

platform::SessionKind desktopSession() { return platform::detectDesktopSession(); }

const char* desktopSessionName() { return platform::sessionKindName(desktopSession()); }

std::unique_ptr<platform::ScreenGrabber> makeDesktopScreenGrabber() {
    if (auto session = remoteSession()) return platform::makePipeWireScreenGrabber(session);
    return platform::makeX11ScreenGrabber();
}

std::unique_ptr<platform::CursorControl> makeDesktopCursorControl() {
    if (auto session = remoteSession()) return platform::makeMutterInjector(session, platform::makeSystemScreenInfo());
    return platform::makeX11CursorControl();
}

std::unique_ptr<platform::InputInjector> makeDesktopInputInjector() {
    if (auto session = remoteSession()) return platform::makeMutterInjector(session, platform::makeSystemScreenInfo());
    return platform::makeXTestInjector();
}

}  // namespace app
