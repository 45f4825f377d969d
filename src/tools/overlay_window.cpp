#include "tools/overlay_window.h"

#include "tools/x11_desktop.h"

#include <QGuiApplication>
#include <QScreen>

namespace tools {

OverlayWindow::OverlayWindow(bool translucent) : QWidget(nullptr) {
    if (translucent) setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    setAutoFillBackground(false);
    topTimer_.setInterval(kKeepOnTopMs);
    connect(&topTimer_, &QTimer::timeout, this, [this] { keepOnTop(); });
}

QRect OverlayWindow::screenRect() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

void OverlayWindow::applyFlags() {
    // Without a window manager nothing stacks or places a window but the
    // client itself; an unmanaged (override-redirect) window is then the
    // reliable way to stay exactly over the screen. With a manager the
    // window stays managed so that it can take the keyboard focus.
    const bool bypass = !windowManagerRunning();
    if (flagsSet_ && bypass == bypassWm_) return;
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    if (bypass) flags |= Qt::X11BypassWindowManagerHint;
    setWindowFlags(flags);
    bypassWm_ = bypass;
    flagsSet_ = true;
}

void OverlayWindow::cover() {
    applyFlags();
    setGeometry(screenRect());
    show();
    raise();
    activateWindow();
    flushDisplay();
    topTimer_.start();
}

void OverlayWindow::uncover() {
    topTimer_.stop();
    hide();
    flushDisplay();
}

void OverlayWindow::keepOnTop() {
    if (!isVisible()) return;
    const QRect screen = screenRect();
    if (geometry() != screen) setGeometry(screen);
    raise();
    flushDisplay();
}

}  // namespace tools
