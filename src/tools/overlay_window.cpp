#include "tools/overlay_window.h"

#include "tools/x11_desktop.h"

#include <QApplication>
#include <QScreen>

#include <chrono>

namespace tools {

namespace {

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// When an overlay was last taken off the screen.
int64_t lastUncoverMs = -1000000;

}  // namespace

void settleDesktop() {
    syncDisplay();
    // Every widget with a window of its own is repainted: children with
    // native windows are exposed separately from their top-level.
    for (QWidget* widget : QApplication::allWidgets()) {
        if (!widget->isVisible() || !widget->internalWinId()) continue;
        if (dynamic_cast<OverlayWindow*>(widget->window())) continue;
        widget->repaint();
    }
    syncDisplay();
}

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
    // A round trip, not a flush: once the callers report the overlay shown,
    // the phone's next pointer events must find it mapped, not the desktop.
    syncDisplay();
    topTimer_.start();
}

bool OverlayWindow::deferShow(std::function<void()> show) {
    if (steadyMs() - lastUncoverMs >= kRepaintGraceMs) return false;
    pendingShow_ = true;
    const int generation = ++showGeneration_;
    QTimer::singleShot(kRepaintGraceMs, this, [this, generation, show = std::move(show)] {
        if (generation != showGeneration_ || !pendingShow_) return;
        pendingShow_ = false;
        show();
    });
    return true;
}

void OverlayWindow::cancelPendingShow() {
    pendingShow_ = false;
    ++showGeneration_;
}

void OverlayWindow::uncover() {
    lastUncoverMs = steadyMs();
    topTimer_.stop();
    hide();
    syncDisplay();
}

void OverlayWindow::keepOnTop() {
    if (!isVisible()) return;
    const QRect screen = screenRect();
    if (geometry() != screen) setGeometry(screen);
    raise();
    flushDisplay();
}

}  // namespace tools
